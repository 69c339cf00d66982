#pragma once
// The downloaded file list of an online install: every entry by nFileID, the
// folders to create and the files still to download, in list order, with
// their download state. Keys are checked and normalised on loading; an
// unsafe, repeated or absurd entry refuses the whole list.
#include <cstdint>
#include <list>
#include <map>
#include <string>
#include <vector>

#include "update/update_messages.h"

namespace update {

enum FileStatus : int32_t { kFileWaiting = 0, kFileRequested = 1, kFileRunning = 2, kFileDone = 3 };

struct DownloadEntry {
  FileInfo info;              // as received; info.strFileKey is the transfer key
  std::u16string key;         // normalised relative path
  std::u16string finalPath;   // install folder + key
  std::u16string tempPath;    // finalPath + ".udt!": where the receive task writes
  int32_t eFileStatus = kFileWaiting;
  int32_t connections = 0;
  float progress = 0.0f;      // percent
  int failures = 0;           // downloads that ended without a usable file
};

class OnlineFileList {
 public:
  // Replaces the entries with the list in `data`, paths below `installFolder`
  // (which ends with a backslash). False with `error`, and the list empty,
  // for a list that cannot be decoded or holds an entry that cannot be
  // installed (unsafe key, repeated id or key, negative size, path too long).
  bool Load(const uint8_t* data, size_t size, const std::u16string& installFolder, std::string& error);
  void Clear();

  DownloadEntry* Find(int32_t nFileID);
  // By transfer key (as received).
  DownloadEntry* FindByKey(const std::u16string& strFileKey);
  bool IsNeeded(int32_t nFileID) const;

  std::map<int32_t, DownloadEntry> m_mapFileInfos;
  std::vector<int32_t> m_lstDirectories;     // type -1 entries
  std::list<int32_t> m_lstNeedDownloadFiles;  // files still to download
  uint64_t m_ulTotalSize = 0;                 // bytes of every file to download
};

// What an online install writes into the install folder, for its uninstaller:
// the key of every file to download (neither folders nor type 5 entries), in
// list order, then `listCopyKey` (the file list's own copy) unless empty.
std::vector<std::u16string> InstalledFileKeys(const OnlineFileList& list, const std::u16string& listCopyKey);

}  // namespace update
