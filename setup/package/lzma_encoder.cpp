#include "setup/package/lzma_encoder.h"

#include <lzma.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "base/le_int.h"
#include "setup/package/lzma_stream.h"

namespace package {
namespace {

// xz's presets 0-6 with the format's 16 MiB dictionary (7-9 would differ from
// 6 only by a larger dictionary); 7-9 search longer matches instead.
lzma_options_lzma LevelOptions(int level, uint64_t size) {
  lzma_options_lzma opt;
  level = std::clamp(level, 0, kMaxLevel);
  lzma_lzma_preset(&opt, static_cast<uint32_t>(std::min(level, 6)));
  if (level >= 7) opt.nice_len = level == 7 ? 128 : level == 8 ? 192 : 273;
  if (level == 9) opt.depth = 512;
  // A dictionary larger than the input only costs memory.
  opt.dict_size = static_cast<uint32_t>(std::clamp<uint64_t>(size, kMinDictionary, kLzmaDictionary));
  opt.lc = 3;
  opt.lp = 0;
  opt.pb = 2;
  opt.ext_flags = 0;
  opt.ext_size_low = static_cast<uint32_t>(size);
  opt.ext_size_high = 0;
  return opt;
}

void WriteStreamHeader(uint8_t* h, uint32_t size, bool stored) {
  h[0] = kLzmaProperties;
  vx::WriteLE32(h + 1, kLzmaDictionary);
  vx::WriteLE32(h + 5, size);
  h[9] = h[10] = h[11] = 0;
  h[12] = stored ? 1 : 0;
}

}  // namespace

uint64_t EncoderMemory(int level, uint64_t size) {
  lzma_options_lzma opt = LevelOptions(level, size);
  lzma_filter filters[] = {{LZMA_FILTER_LZMA1, &opt}, {LZMA_VLI_UNKNOWN, nullptr}};
  return lzma_raw_encoder_memusage(filters);
}

StreamEncoder::StreamEncoder(uint32_t size, int level, Sink sink) : m_sink(std::move(sink)) {
  lzma_options_lzma opt = LevelOptions(level, size);
  lzma_filter filters[] = {{LZMA_FILTER_LZMA1EXT, &opt}, {LZMA_VLI_UNKNOWN, nullptr}};
  auto* strm = new lzma_stream;
  *strm = LZMA_STREAM_INIT;
  m_pLzma = strm;
  uint8_t header[kStreamHeaderSize] = {kLzmaProperties};
  vx::WriteLE32(header + 1, kLzmaDictionary);
  vx::WriteLE32(header + 5, size);
  m_bFailed = lzma_raw_encoder(strm, filters) != LZMA_OK || !Put(header, sizeof header);
}

StreamEncoder::~StreamEncoder() {
  auto* strm = static_cast<lzma_stream*>(m_pLzma);
  lzma_end(strm);
  delete strm;
}

bool StreamEncoder::Put(const uint8_t* data, size_t size) {
  m_nWritten += size;
  return size == 0 || m_sink(data, size);
}

bool StreamEncoder::Feed(const uint8_t* data, size_t size, bool last) {
  if (m_bFailed) return false;
  auto* strm = static_cast<lzma_stream*>(m_pLzma);
  strm->next_in = data;
  strm->avail_in = size;
  for (;;) {
    strm->next_out = m_out;
    strm->avail_out = sizeof m_out;
    const lzma_ret ret = lzma_code(strm, last ? LZMA_FINISH : LZMA_RUN);
    if ((ret != LZMA_OK && ret != LZMA_STREAM_END) || !Put(m_out, sizeof m_out - strm->avail_out)) {
      m_bFailed = true;
      return false;
    }
    if (ret == LZMA_STREAM_END) return true;
    if (!last && strm->avail_in == 0 && strm->avail_out != 0) return true;
  }
}

bool LooksIncompressible(const uint8_t* sample, size_t size) {
  if (size == 0) return false;
  uint64_t packed = 0;
  StreamEncoder probe(static_cast<uint32_t>(size), 0, [&](const uint8_t*, size_t n) {
    packed += n;
    return true;
  });
  if (!probe.Feed(sample, size, true)) return false;
  // Under 2 % saved is not worth the full pass.
  return (packed - kStreamHeaderSize) * 100 >= size * 98;
}

bool CompressStream(const uint8_t* data, size_t size, std::vector<uint8_t>& out, int level) {
  if (size > 0xFFFFFFFFu) return false;
  out.clear();
  StreamEncoder encoder(static_cast<uint32_t>(size), level, [&](const uint8_t* d, size_t n) {
    out.insert(out.end(), d, d + n);
    return true;
  });
  return encoder.Feed(data, size, true);
}

std::vector<uint8_t> StoredStreamHeader(uint32_t size) {
  std::vector<uint8_t> out(kStreamHeaderSize);
  WriteStreamHeader(out.data(), size, true);
  return out;
}

std::vector<uint8_t> StoreStream(const uint8_t* data, size_t size) {
  std::vector<uint8_t> out = StoredStreamHeader(static_cast<uint32_t>(size));
  out.insert(out.end(), data, data + size);
  return out;
}

std::vector<uint8_t> EncodeStream(const uint8_t* data, size_t size, bool* stored) {
  std::vector<uint8_t> packed;
  const bool ok = CompressStream(data, size, packed);
  const bool store = !ok || packed.size() >= kStreamHeaderSize + size;
  if (stored) *stored = store;
  return store ? StoreStream(data, size) : packed;
}

}  // namespace package
