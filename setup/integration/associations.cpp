#include "setup/integration/associations.h"

#include <windows.h>

#include <cwctype>

namespace setup {
namespace {

const Association kAssociations[] = {
    {L".smvx", L"Quorin_smvx", L"qrplayerex.exe"}, {L".smv", L"Quorin_smv", L"qrplayer.exe"},
    {L".kwb", L"Quorin_kwb", L"qrdraw.exe"},       {L".swb", L"Quorin_swb", L"wbeditor.exe"},
    {L".vot", L"Quorin_vote", L"qrvoteedit.exe"}};

bool SetDefault(const std::wstring& path, const std::wstring& value) {
  HKEY key;
  if (RegCreateKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) !=
      ERROR_SUCCESS)
    return false;
  const bool ok = RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                 DWORD((value.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
  RegCloseKey(key);
  return ok;
}

bool ReadDefault(const std::wstring& path, std::wstring& value) {
  HKEY key;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  wchar_t buffer[1024] = {};
  DWORD size = sizeof buffer - sizeof(wchar_t), type = 0;
  const LONG r = RegQueryValueExW(key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
  RegCloseKey(key);
  if (r != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return false;
  value = buffer;
  return true;
}

std::wstring Lower(std::wstring s) {
  for (auto& c : s) c = static_cast<wchar_t>(std::towlower(c));
  return s;
}

bool KeyExists(const std::wstring& path) {
  HKEY key;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

}  // namespace

const Association* FindAssociation(const std::wstring& extension) {
  for (const auto& a : kAssociations)
    if (extension == a.extension) return &a;
  return nullptr;
}

std::wstring AssociationCommand(const std::wstring& installDir, const Association& a) {
  return L"\"" + installDir + a.program + L"\" \"%1\"";
}

bool RegisterAssociation(const std::wstring& extension, const std::wstring& installDir) {
  const Association* a = FindAssociation(extension);
  if (!a) return false;
  const std::wstring progId = a->progId;
  return SetDefault(a->extension, progId) &&
         SetDefault(progId + L"\\DefaultIcon", L"\"" + installDir + a->program + L"\",0") &&
         SetDefault(progId + L"\\Shell\\Open\\Command", AssociationCommand(installDir, *a));
}

bool DeleteKeyTree(void* rootKey, const std::wstring& path) {
  const HKEY root = static_cast<HKEY>(rootKey);
  HKEY key;
  if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  wchar_t name[256];
  bool ok = true;
  // Always the first subkey: deleting it shifts the rest down. A subkey that
  // cannot be deleted ends the walk instead of being tried again forever.
  while (RegEnumKeyW(key, 0, name, 256) == ERROR_SUCCESS) {
    if (!DeleteKeyTree(root, path + L"\\" + name)) {
      ok = false;
      break;
    }
  }
  RegCloseKey(key);
  return ok && RegDeleteKeyW(root, path.c_str()) == ERROR_SUCCESS;
}

bool RemoveAssociations(const std::wstring& installDir) {
  std::wstring dir = installDir;
  while (!dir.empty() && dir.back() == L'\\') dir.pop_back();
  const std::wstring ours = Lower(L"\"" + dir + L"\\");
  bool ok = true;
  for (const auto& a : kAssociations) {
    const std::wstring extension = a.extension, progId = a.progId;
    std::wstring command;
    if (!ReadDefault(progId + L"\\Shell\\Open\\Command", command)) {
      // Nothing of ours is there; an extension key left naming our ProgID goes.
      std::wstring named;
      if (ReadDefault(extension, named) && named == progId && !KeyExists(progId))
        ok = RegDeleteKeyW(HKEY_CLASSES_ROOT, extension.c_str()) == ERROR_SUCCESS && ok;
      continue;
    }
    if (Lower(command).rfind(ours, 0) != 0) continue;  // another program's now
    std::wstring named;
    if (ReadDefault(extension, named) && named == progId)
      ok = RegDeleteKeyW(HKEY_CLASSES_ROOT, extension.c_str()) == ERROR_SUCCESS && ok;
    ok = DeleteKeyTree(HKEY_CLASSES_ROOT, progId) && ok;
  }
  return ok;
}

}  // namespace setup
