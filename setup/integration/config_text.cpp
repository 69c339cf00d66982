#include "setup/integration/config_text.h"

namespace setup::config {
namespace {

// Calls `f(line)` for every line of `text`, its line feed included.
template <class C, class F>
void ForEachLine(std::basic_string_view<C> text, F&& f) {
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find(C('\n'), at);
    end = end == std::basic_string_view<C>::npos ? text.size() : end + 1;
    f(text.substr(at, end - at));
    at = end;
  }
}

template <class C>
void ReplaceAll(std::basic_string<C>& s, std::basic_string_view<C> from, std::basic_string_view<C> to) {
  for (size_t at = s.find(from); at != std::basic_string<C>::npos; at = s.find(from, at + to.size()))
    s.replace(at, from.size(), to);
}

template <class C>
bool IsBlank(C c) {
  return c == C(' ') || c == C('\t') || c == C('\r') || c == C('\n') || (sizeof(C) == 2 && c == C(0xFEFF));
}

template <class C>
std::basic_string_view<C> Trim(std::basic_string_view<C> s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

template <class C>
bool SameName(std::basic_string_view<C> a, std::basic_string_view<C> b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    auto lower = [](C c) { return c >= C('A') && c <= C('Z') ? C(c + 32) : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

// The line without its line ending, and the ending.
template <class C>
std::pair<std::basic_string_view<C>, std::basic_string_view<C>> SplitEnding(std::basic_string_view<C> line) {
  size_t body = line.size();
  if (body && line[body - 1] == C('\n')) --body;
  if (body && line[body - 1] == C('\r')) --body;
  return {line.substr(0, body), line.substr(body)};
}

// "[name]" lines: the name, else nullopt.
template <class C>
std::optional<std::basic_string_view<C>> SectionName(std::basic_string_view<C> line) {
  const auto t = Trim(line);
  if (t.empty() || t.front() != C('[')) return std::nullopt;
  const size_t close = t.find(C(']'));
  if (close == std::basic_string_view<C>::npos) return std::nullopt;
  return Trim(t.substr(1, close - 1));
}

template <class C>
std::optional<std::basic_string_view<C>> KeyName(std::basic_string_view<C> line) {
  const auto t = Trim(line);
  if (t.empty() || t.front() == C(';')) return std::nullopt;
  const size_t eq = t.find(C('='));
  if (eq == std::basic_string_view<C>::npos) return std::nullopt;
  return Trim(t.substr(0, eq));
}

template <class C>
std::basic_string<C> Widen(const char* ascii) {
  std::basic_string<C> s;
  for (; *ascii; ++ascii) s += C(*ascii);
  return s;
}

template <class C>
std::basic_string<C> SetProfileValueOf(std::basic_string_view<C> text, std::basic_string_view<C> section,
                                       std::basic_string_view<C> key, std::basic_string_view<C> value) {
  using View = std::basic_string_view<C>;
  using Str = std::basic_string<C>;
  const size_t firstLf = text.find(C('\n'));
  const Str eol = firstLf != View::npos && (firstLf == 0 || text[firstLf - 1] != C('\r')) ? Widen<C>("\n")
                                                                                          : Widen<C>("\r\n");
  Str keyLine = Str(key) + C('=') + Str(value);

  std::vector<View> lines;
  ForEachLine<C>(text, [&](View l) { lines.push_back(l); });

  // Find the section, then the key inside it.
  size_t sectionAt = lines.size(), lastContent = lines.size();
  for (size_t i = 0; i < lines.size(); ++i) {
    if (const auto name = SectionName(lines[i])) {
      if (sectionAt != lines.size()) break;  // the next section ends ours
      if (SameName(*name, section)) sectionAt = lastContent = i;
      continue;
    }
    if (sectionAt == lines.size()) continue;
    if (!Trim(lines[i]).empty()) lastContent = i;
    const auto k = KeyName(lines[i]);
    if (k && SameName(*k, key)) {
      Str out(text.substr(0, static_cast<size_t>(lines[i].data() - text.data())));
      const auto [body, ending] = SplitEnding(lines[i]);
      out += keyLine;
      out += ending;
      const size_t after = static_cast<size_t>(lines[i].data() - text.data()) + lines[i].size();
      out += text.substr(after);
      return out;
    }
  }
  if (sectionAt == lines.size()) {
    Str out(text);
    if (!out.empty() && out.back() != C('\n')) out += eol;
    out += C('[');
    out += section;
    out += C(']');
    out += eol + keyLine + eol;
    return out;
  }
  // Add the key after the section's last line that is not blank.
  const size_t after = static_cast<size_t>(lines[lastContent].data() - text.data()) + lines[lastContent].size();
  Str out(text.substr(0, after));
  if (out.empty() || out.back() != C('\n')) out += eol;
  out += keyLine + eol;
  out += text.substr(after);
  return out;
}

}  // namespace

std::string ReplaceXamppRootText(std::string_view text, std::string_view root, const LeadBytePredicate& isLead) {
  std::string out;
  out.reserve(text.size() + text.size() / 8);
  ForEachLine<char>(text, [&](std::string_view line) {
    if (line.find("/xampplite") == std::string_view::npos) {
      out += line;
      return;
    }
    std::string l(line);
    ReplaceAll<char>(l, "/xampplite", root);
    for (size_t i = 0; i < l.size(); ++i) {
      const auto c = static_cast<unsigned char>(l[i]);
      if (c == '\\')
        l[i] = '/';
      else if (c >= 0x80 && isLead && isLead(c) && i + 1 < l.size() && l[i + 1] != '\n')
        ++i;  // the trail byte belongs to this character
    }
    out += l;
  });
  return out;
}

std::string ReplaceDownloadHostText(std::string_view text, std::string_view address) {
  std::string out;
  out.reserve(text.size() + 64);
  ForEachLine<char>(text, [&](std::string_view line) {
    if (line.find("CONFSOFTDOWNURL") == std::string_view::npos || line.find("127.0.0.1") == std::string_view::npos) {
      out += line;
      return;
    }
    std::string l(line);
    ReplaceAll<char>(l, "127.0.0.1", address);
    out += l;
  });
  return out;
}

std::string SetProfileValue(std::string_view text, std::string_view section, std::string_view key,
                            std::string_view value) {
  return SetProfileValueOf<char>(text, section, key, value);
}

std::u16string SetProfileValue(std::u16string_view text, std::u16string_view section, std::u16string_view key,
                               std::u16string_view value) {
  return SetProfileValueOf<char16_t>(text, section, key, value);
}

std::optional<std::u16string> RewriteKeyValues(std::u16string_view text, const std::vector<std::u16string>& keys,
                                               std::u16string_view value) {
  std::u16string out;
  out.reserve(text.size() + keys.size() * value.size());
  size_t at = 0;
  for (const auto& key : keys) {
    size_t found = at;
    for (;; ++found) {
      found = text.find(key, found);
      if (found == std::u16string_view::npos) return std::nullopt;
      if (found == 0 || text[found - 1] == u'\n' || text[found - 1] == u'\r' || (found == 1 && text[0] == 0xFEFF))
        break;
    }
    const size_t cr = text.find(u'\r', found + key.size());
    if (cr == std::u16string_view::npos) return std::nullopt;
    out += text.substr(at, found - at);
    out += key;
    out += value;
    at = cr;
  }
  out += text.substr(at);
  return out;
}

std::optional<std::u16string> Utf16FromBytes(std::string_view bytes) {
  if (bytes.size() % 2) return std::nullopt;
  std::u16string s(bytes.size() / 2, u'\0');
  for (size_t i = 0; i < s.size(); ++i)
    s[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                 static_cast<unsigned char>(bytes[2 * i + 1]) << 8);
  return s;
}

std::string Utf16ToBytes(std::u16string_view text) {
  std::string b(text.size() * 2, '\0');
  for (size_t i = 0; i < text.size(); ++i) {
    b[2 * i] = static_cast<char>(text[i] & 0xFF);
    b[2 * i + 1] = static_cast<char>(text[i] >> 8);
  }
  return b;
}

}  // namespace setup::config
