#include "setup/wizard/text_format.h"

namespace setup {
namespace {

void Append(std::u16string& out, const FormatArgument& arg) {
  if (const auto* text = std::get_if<std::u16string_view>(&arg)) {
    out += *text;
    return;
  }
  const std::string digits = std::to_string(std::get<int32_t>(arg));
  out.append(digits.begin(), digits.end());
}

}  // namespace

std::u16string FitBuffer(std::u16string text, int capacity) {
  const size_t limit = capacity > 0 ? size_t(capacity - 1) : 0;
  if (text.size() <= limit) return text;
  text.resize(limit);
  if (!text.empty() && text.back() >= 0xD800 && text.back() <= 0xDBFF) text.pop_back();
  return text;
}

std::u16string FormatText(std::u16string_view format, std::initializer_list<FormatArgument> args,
                          int capacity) {
  std::u16string out;
  auto next = args.begin();
  for (size_t i = 0; i < format.size(); ++i) {
    const char16_t c = format[i];
    if (c != u'%' || i + 1 == format.size()) {
      out += c;
      continue;
    }
    const char16_t d = format[i + 1];
    if (d == u'%') {
      out += u'%';
      ++i;
    } else if (d == u's' || d == u'd') {
      if (next != args.end()) Append(out, *next++);
      ++i;
    } else {
      out += c;
    }
  }
  return FitBuffer(std::move(out), capacity);
}

}  // namespace setup
