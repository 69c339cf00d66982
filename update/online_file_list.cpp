#include "update/online_file_list.h"

#include <algorithm>
#include <set>

#include "base/path_join.h"
#include "base/utf16.h"
#include "update/file_key_rules.h"

namespace update {
namespace {

// Keys name files on a case-insensitive file system.
std::u16string Folded(const std::u16string& key) {
  std::u16string out = key;
  for (char16_t& c : out)
    if (c >= u'A' && c <= u'Z') c = char16_t(c - u'A' + u'a');
  return out;
}

}  // namespace

void OnlineFileList::Clear() {
  m_mapFileInfos.clear();
  m_lstDirectories.clear();
  m_lstNeedDownloadFiles.clear();
  m_ulTotalSize = 0;
}

bool OnlineFileList::Load(const uint8_t* data, size_t size, const std::u16string& installFolder,
                          std::string& error) {
  Clear();
  std::vector<FileInfo> files;
  if (size > kMaxFileListBytes) {
    error = "the file list is larger than " + std::to_string(kMaxFileListBytes >> 20) + " MiB";
    return false;
  }
  if (!DecodeFileList(data, size, files)) {
    error = "the file list cannot be read or holds more than " + std::to_string(kMaxFileListEntries) + " entries";
    return false;
  }
  const std::u16string folder = vx::WithTrailingBackslash(installFolder);
  std::set<std::u16string> keys;
  std::map<int32_t, DownloadEntry> entries;
  for (const FileInfo& info : files) {
    DownloadEntry e;
    e.info = info;
    e.key = NormaliseFileKey(info.strFileKey);
    std::string reason;
    const bool isFolder = info.type == kFileTypeDirectory;
    if (!isFolder && !e.key.empty() && e.key.back() == u'\\') {
      error = "file " + std::to_string(info.nFileID) + ": a file key ending in a separator";
      return false;
    }
    if (isFolder && !e.key.empty() && e.key.back() == u'\\') e.key.pop_back();
    if (!CheckFileKey(e.key, reason)) {
      error = "file " + std::to_string(info.nFileID) + ": " + reason;
      return false;
    }
    if (info.size < 0) {
      error = "file " + std::to_string(info.nFileID) + ": negative size";
      return false;
    }
    e.finalPath = folder + e.key;
    e.tempPath = e.finalPath + u".udt!";
    if (e.finalPath.size() + kDownloadSuffixLength > kMaxDownloadPathLength) {
      error = "file " + std::to_string(info.nFileID) + ": path too long below the install folder";
      return false;
    }
    if (!keys.insert(Folded(e.key)).second) {
      error = "file " + std::to_string(info.nFileID) + ": key \"" + vx::Utf16ToUtf8(e.key) + "\" listed twice";
      return false;
    }
    if (!entries.emplace(info.nFileID, std::move(e)).second) {
      error = "file id " + std::to_string(info.nFileID) + " listed twice";
      return false;
    }
  }
  m_mapFileInfos = std::move(entries);
  for (auto& [id, e] : m_mapFileInfos) {
    if (e.info.type == kFileTypeDirectory) {
      m_lstDirectories.push_back(id);
    } else if (e.info.type != kFileTypeNoDownload) {
      m_lstNeedDownloadFiles.push_back(id);
      m_ulTotalSize += uint64_t(e.info.size);
    }
  }
  return true;
}

DownloadEntry* OnlineFileList::Find(int32_t nFileID) {
  auto it = m_mapFileInfos.find(nFileID);
  return it == m_mapFileInfos.end() ? nullptr : &it->second;
}

DownloadEntry* OnlineFileList::FindByKey(const std::u16string& strFileKey) {
  for (auto& [id, e] : m_mapFileInfos)
    if (e.info.type != kFileTypeDirectory && e.info.strFileKey == strFileKey) return &e;
  return nullptr;
}

bool OnlineFileList::IsNeeded(int32_t nFileID) const {
  return std::find(m_lstNeedDownloadFiles.begin(), m_lstNeedDownloadFiles.end(), nFileID) !=
         m_lstNeedDownloadFiles.end();
}

std::vector<std::u16string> InstalledFileKeys(const OnlineFileList& list, const std::u16string& listCopyKey) {
  // The map, not the need list: finished files have left that.
  std::vector<std::u16string> keys;
  for (const auto& [id, e] : list.m_mapFileInfos)
    if (e.info.type != kFileTypeDirectory && e.info.type != kFileTypeNoDownload) keys.push_back(e.key);
  if (!listCopyKey.empty()) keys.push_back(listCopyKey);
  return keys;
}

}  // namespace update
