#include "setup/package/lzma_stream.h"

#include <lzma.h>

#include <algorithm>
#include <cstring>

#include "base/le_int.h"

namespace package {
namespace {

constexpr size_t kOutPiece = 1 << 16;

}  // namespace

uint32_t DeclaredSize(const uint8_t* stream) { return vx::ReadLE32(stream + 5); }

bool DecoderDictionary(const uint8_t* stream, uint32_t& dictionary) {
  const uint32_t field = vx::ReadLE32(stream + 1);
  if (field > kLzmaDictionary) return false;
  // No match reaches further back than the output produced so far.
  dictionary = std::max<uint32_t>(kMinDictionary, std::min(field, DeclaredSize(stream)));
  return true;
}
bool IsStoredStream(const uint8_t* stream) { return stream[12] == 1; }

StreamDecoder::StreamDecoder(Sink sink) : m_sink(std::move(sink)) {}

StreamDecoder::~StreamDecoder() {
  if (m_pLzma) {
    lzma_end(static_cast<lzma_stream*>(m_pLzma));
    delete static_cast<lzma_stream*>(m_pLzma);
  }
}

StreamDecoder::Status StreamDecoder::Start() {
  m_bStarted = true;
  m_nDeclared = DeclaredSize(m_header);
  m_bStored = IsStoredStream(m_header);
  if (m_bStored) return Status::NeedInput;
  lzma_options_lzma opt;
  if (!lzma_lzma_preset(&opt, 0)) {
    // Properties from the stream: lc/lp/pb byte and dictionary size.
    uint8_t props = m_header[0];
    if (props >= 9 * 5 * 5) return Status::Error;
    opt.lc = props % 9;
    props /= 9;
    opt.lp = props % 5;
    opt.pb = props / 5;
    if (!DecoderDictionary(m_header, opt.dict_size)) return Status::Error;
    opt.ext_flags = LZMA_LZMA1EXT_ALLOW_EOPM;
    opt.ext_size_low = m_nDeclared;
    opt.ext_size_high = 0;
  }
  if (opt.lc + opt.lp > 4) return Status::Error;
  lzma_filter filters[] = {{LZMA_FILTER_LZMA1EXT, &opt}, {LZMA_VLI_UNKNOWN, nullptr}};
  auto* strm = new lzma_stream;
  *strm = LZMA_STREAM_INIT;
  m_pLzma = strm;
  if (lzma_raw_decoder(strm, filters) != LZMA_OK) return Status::Error;
  m_out.resize(kOutPiece);
  return Status::NeedInput;
}

StreamDecoder::Status StreamDecoder::Emit(const uint8_t* data, size_t size) {
  if (size == 0) return Status::NeedInput;
  m_nProduced += size;
  return m_sink(data, size) ? Status::NeedInput : Status::SinkFailed;
}

StreamDecoder::Status StreamDecoder::Feed(const uint8_t* data, size_t size, bool last) {
  if (m_bFinished) return Status::Done;
  while (m_nHeader < kStreamHeaderSize && size > 0) {
    m_header[m_nHeader++] = *data++;
    --size;
  }
  if (m_nHeader < kStreamHeaderSize) return last ? Status::Error : Status::NeedInput;
  if (!m_bStarted) {
    if (Status s = Start(); s != Status::NeedInput) return s;
  }
  if (m_bStored) {
    // The stored form is copied as is.
    while (size > 0) {
      const size_t piece = size < kOutPiece ? size : kOutPiece;
      if (Status s = Emit(data, piece); s != Status::NeedInput) return s;
      data += piece;
      size -= piece;
    }
    if (last) m_bFinished = true;
    return last ? Status::Done : Status::NeedInput;
  }
  auto* strm = static_cast<lzma_stream*>(m_pLzma);
  strm->next_in = data;
  strm->avail_in = size;
  for (;;) {
    strm->next_out = m_out.data();
    strm->avail_out = m_out.size();
    const lzma_ret ret = lzma_code(strm, last ? LZMA_FINISH : LZMA_RUN);
    const size_t produced = m_out.size() - strm->avail_out;
    if (Status s = Emit(m_out.data(), produced); s != Status::NeedInput) return s;
    // The declared size bounds the output: once it is reached the file is
    // complete, whatever follows in the stream.
    if (ret == LZMA_STREAM_END || m_nProduced >= m_nDeclared) {
      m_bFinished = true;
      return Status::Done;
    }
    if (ret == LZMA_BUF_ERROR && last) {
      // The input ended before the declared size: keep what was decoded.
      m_bFinished = true;
      return Status::Done;
    }
    if (ret != LZMA_OK) return Status::Error;
    if (strm->avail_in == 0 && produced < m_out.size()) {
      if (!last) return Status::NeedInput;
    }
  }
}

int64_t DecodeStreamToVector(const uint8_t* stream, size_t size, std::vector<uint8_t>& out) {
  out.clear();
  StreamDecoder decoder([&](const uint8_t* d, size_t n) {
    out.insert(out.end(), d, d + n);
    return true;
  });
  const StreamDecoder::Status s = decoder.Feed(stream, size, true);
  if (s != StreamDecoder::Status::Done) return -1;
  return static_cast<int64_t>(out.size());
}

}  // namespace package
