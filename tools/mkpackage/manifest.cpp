#include "tools/mkpackage/manifest.h"

#include <nlohmann/json.hpp>

#include <cstdio>

#include "base/fixed_field.h"
#include "base/path_join.h"
#include "base/utf16.h"
#include "setup/package/payload_table.h"

namespace mkpackage {
namespace {

using nlohmann::json;

struct Failure {
  std::string message;
};

[[noreturn]] void Fail(const std::string& field, const std::string& what) {
  throw Failure{field + ": " + what};
}

std::u16string Text(const json& v, const std::string& field, size_t width) {
  if (!v.is_string()) Fail(field, std::string("expected a string, got ") + v.type_name());
  const std::u16string s = vx::Utf8ToUtf16(v.get<std::string>());
  for (size_t i = 0; i < s.size(); ++i)
    if (s[i] < 0x20 || (s[i] >= 0x7F && s[i] <= 0x9F)) {
      char code[16];
      std::snprintf(code, sizeof code, "U+%04X", unsigned(s[i]));
      Fail(field, std::string("control character ") + code + " at position " + std::to_string(i));
    }
  if (s.size() > vx::FieldCapacity(width))
    throw Failure{vx::FieldTooLongError(field, s.size(), width)};
  return s;
}

int32_t Number(const json& v, const std::string& field) {
  if (v.is_boolean()) return v.get<bool>() ? 1 : 0;
  if (!v.is_number_integer()) Fail(field, std::string("expected an integer, got ") + v.type_name());
  if (v.is_number_unsigned() && v.get<uint64_t>() > uint64_t(INT32_MAX))
    Fail(field, "integer out of the 32-bit range");
  const int64_t n = v.get<int64_t>();
  if (n < INT32_MIN || n > INT32_MAX) Fail(field, "integer out of the 32-bit range");
  return static_cast<int32_t>(n);
}

const json& Array(const json& v, const std::string& field) {
  if (!v.is_array()) Fail(field, std::string("expected an array, got ") + v.type_name());
  return v;
}

const json& Object(const json& v, const std::string& field) {
  if (!v.is_object()) Fail(field, std::string("expected an object, got ") + v.type_name());
  return v;
}

std::u16string SafePath(const json& v, const std::string& field) {
  std::u16string p = Text(v, field, package::kPathFieldSize);
  for (auto& c : p)
    if (c == u'/') c = u'\\';
  if (!vx::IsSafeRelativePath(p))
    Fail(field, "\"" + vx::Utf16ToUtf8(p) +
                    "\" is not a relative path inside the destination (absolute, drive letter, "
                    "\"..\" or empty component)");
  return p;
}

void Parse(const json& root, Manifest& m) {
  using namespace package;
  Object(root, "manifest");
  PackageHeader& h = m.header;
  for (const auto& [key, value] : root.items()) {
    bool known = false;
    for (const FixedField& f : FixedFields()) {
      if (key != f.name) continue;
      known = true;
      if (key == "TotalSize") Fail(key, "is computed from the files and cannot be given");
      if (f.text)
        h.*f.text = Text(value, key, f.width);
      else
        h.*f.number = Number(value, key);
    }
    if (known) continue;
    if (key == "AutostartPrograms") {
      size_t i = 0;
      for (const json& v : Array(value, key))
        h.AutostartPrograms.push_back(Text(v, key + "[" + std::to_string(i++) + "]", kNameEntrySize));
    } else if (key == "ProgramGroup") {
      for (const auto& [lang, v] : Object(value, key).items()) {
        bool found = false;
        for (const GroupNameField& g : GroupNameFields()) {
          if (std::string("ProgramGroup") + lang != g.name) continue;
          h.*g.text = Text(v, key + "." + lang, g.width);
          found = true;
        }
        if (!found) Fail(key + "." + lang, "unknown language (Gb, Big5, En, Jp)");
      }
    } else if (key == "PackageKind") {
      m.PackageKind = Text(value, key, kPackageKindSize);
    } else if (key == "ExtraFolders") {
      size_t i = 0;
      for (const json& v : Array(value, key))
        m.ExtraFolders.push_back(SafePath(v, key + "[" + std::to_string(i++) + "]"));
    } else {
      const ShortcutList* list = nullptr;
      for (const ShortcutList& l : ShortcutLists())
        if (key == l.name) list = &l;
      if (!list) Fail(key, "unknown manifest key");
      size_t i = 0;
      for (const json& entry : Array(value, key)) {
        const std::string where = key + "[" + std::to_string(i++) + "]";
        ShortcutEntry e;
        for (const auto& [field, v] : Object(entry, where).items()) {
          bool found = false;
          for (const ShortcutField& f : ShortcutFields()) {
            if (field != f.name) continue;
            e.*f.text = Text(v, where + "." + field, f.width);
            found = true;
          }
          if (!found) Fail(where + "." + field, "unknown shortcut field");
        }
        if (e.Target.empty()) Fail(where + ".Target", "missing");
        (h.*list->list).push_back(std::move(e));
      }
    }
  }
  if (m.PackageKind.empty()) Fail("PackageKind", "missing (V3.0, V4.0, JSP or PHP)");
}

}  // namespace

bool ParseManifest(const std::string& text, Manifest& manifest, std::string& error) {
  json root;
  try {
    root = json::parse(text);
  } catch (const json::parse_error& e) {
    error = std::string("manifest is not valid JSON: ") + e.what();
    return false;
  }
  manifest = {};
  try {
    Parse(root, manifest);
  } catch (const Failure& f) {
    error = f.message;
    return false;
  }
  return true;
}

}  // namespace mkpackage
