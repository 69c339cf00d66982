#include "base/utf16.h"

#include <cstdint>

#ifdef _WIN32
#include <windows.h>
#endif

namespace vx {
namespace {

constexpr char16_t kReplacement = 0xFFFD;

void AppendCodePoint(std::u16string& out, uint32_t cp) {
  if (cp < 0x10000) {
    out.push_back(static_cast<char16_t>(cp));
  } else {
    cp -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
  }
}

void AppendUtf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

}  // namespace

std::u16string Utf8ToUtf16(std::string_view in) {
  std::u16string out;
  out.reserve(in.size());
  size_t i = 0;
  while (i < in.size()) {
    const uint8_t b = static_cast<uint8_t>(in[i]);
    size_t extra;
    uint32_t cp, min;
    if (b < 0x80) { out.push_back(b); ++i; continue; }
    if (b >= 0xC2 && b < 0xE0) { extra = 1; cp = b & 0x1F; min = 0x80; }
    else if (b >= 0xE0 && b < 0xF0) { extra = 2; cp = b & 0x0F; min = 0x800; }
    else if (b >= 0xF0 && b < 0xF5) { extra = 3; cp = b & 0x07; min = 0x10000; }
    else { out.push_back(kReplacement); ++i; continue; }
    size_t j = 1;
    for (; j <= extra && i + j < in.size(); ++j) {
      const uint8_t c = static_cast<uint8_t>(in[i + j]);
      if ((c & 0xC0) != 0x80) break;
      cp = (cp << 6) | (c & 0x3F);
    }
    if (j <= extra || cp < min || cp > 0x10FFFF) {
      out.push_back(kReplacement);
      i += j;  // skip the lead byte and the continuation bytes seen
      continue;
    }
    AppendCodePoint(out, cp);
    i += j;
  }
  return out;
}

std::string Utf16ToUtf8(std::u16string_view in) {
  std::string out;
  out.reserve(in.size());
  for (size_t i = 0; i < in.size(); ++i) {
    uint32_t u = in[i];
    if (u >= 0xD800 && u < 0xDC00 && i + 1 < in.size() && in[i + 1] >= 0xDC00 &&
        in[i + 1] < 0xE000) {
      u = 0x10000 + ((u - 0xD800) << 10) + (in[i + 1] - 0xDC00);
      ++i;
    } else if (u >= 0xD800 && u < 0xE000) {
      u = kReplacement;
    }
    AppendUtf8(out, u);
  }
  return out;
}

std::string Utf16ToStreamUtf8(std::u16string_view in) {
  std::string out;
  out.reserve(in.size());
  for (char16_t u : in) AppendUtf8(out, u);
  return out;
}

#ifdef _WIN32
std::u16string AnsiToUtf16(std::string_view ansi) {
  if (ansi.empty()) return {};
  const int n = MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), nullptr, 0);
  std::wstring w(static_cast<size_t>(n > 0 ? n : 0), L'\0');
  if (n > 0) MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), &w[0], n);
  return FromWide(w);
}

std::string Utf16ToAnsi(std::u16string_view utf16) {
  if (utf16.empty()) return {};
  const std::wstring w = ToWide(utf16);
  const int n = WideCharToMultiByte(CP_ACP, 0, w.data(), static_cast<int>(w.size()), nullptr, 0,
                                    nullptr, nullptr);
  std::string s(static_cast<size_t>(n > 0 ? n : 0), '\0');
  if (n > 0)
    WideCharToMultiByte(CP_ACP, 0, w.data(), static_cast<int>(w.size()), &s[0], n, nullptr, nullptr);
  return s;
}
#endif

}  // namespace vx
