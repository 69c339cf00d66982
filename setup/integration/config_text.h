#pragma once
// Text rules of the product's configuration files. Every rule works on the
// whole text and keeps each byte it does not mean to change.
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace setup::config {

// Tells a double-byte lead byte of the ANSI code page (so that its trail byte
// is never taken for a backslash).
using LeadBytePredicate = std::function<bool(unsigned char)>;

// Lines holding "/xampplite": every occurrence becomes `root`, then every
// backslash of the line becomes a forward slash. Other lines are unchanged.
std::string ReplaceXamppRootText(std::string_view text, std::string_view root, const LeadBytePredicate& isLead);

// Lines holding both "CONFSOFTDOWNURL" and "127.0.0.1": every "127.0.0.1" of
// the line becomes `address`.
std::string ReplaceDownloadHostText(std::string_view text, std::string_view address);

// Sets `key` of `section` to `value` the way a profile write does: section and
// key names compare without regard to ASCII case and surrounding blanks; an
// existing key line is replaced (its line ending kept), a missing key is added
// after the last line of its section, a missing section is appended. The file
// is 8-bit text, or UTF-16LE when it starts with a byte-order mark (the value
// is then given as UTF-16 too, see SetProfileValueUtf16).
std::string SetProfileValue(std::string_view text, std::string_view section, std::string_view key,
                            std::string_view value);
std::u16string SetProfileValue(std::u16string_view text, std::u16string_view section, std::u16string_view key,
                               std::u16string_view value);

// Rewrites the values of `keys`, found in this order, each at the start of a
// line after the previous one, with `value`; a value ends at the next carriage
// return, which must exist. Nothing when a key or its carriage return is
// missing.
std::optional<std::u16string> RewriteKeyValues(std::u16string_view text, const std::vector<std::u16string>& keys,
                                               std::u16string_view value);

// UTF-16LE bytes to code units and back; nullopt for an odd byte count.
std::optional<std::u16string> Utf16FromBytes(std::string_view bytes);
std::string Utf16ToBytes(std::u16string_view text);

}  // namespace setup::config
