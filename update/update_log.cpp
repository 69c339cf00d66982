#include "update/update_log.h"

#include <cstdio>
#include <filesystem>

#include "base/file_ops.h"
#include "base/fs_path.h"

#ifdef _WIN32
#include <share.h>
#include <windows.h>
#include "base/utf16.h"
#else
#include <unistd.h>
#endif

namespace update {

std::string LogTime(const std::tm& t) {
  char text[64];
  std::snprintf(text, sizeof text, "%d-%d-%d %d:%d:%d", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday,
                t.tm_hour, t.tm_min, t.tm_sec);
  return text;
}

std::string LogLine(const std::tm& t, const std::string& message) {
  return "<" + LogTime(t) + "> " + message + "\r\n";
}

FileUpdateLog::FileUpdateLog(std::string programFolder, std::string moduleName, unsigned long processId)
    : m_strFolder(std::move(programFolder)), m_strModule(std::move(moduleName)), m_nPid(processId) {}

#ifdef _WIN32
constexpr const char* kLogFolder = "\\log\\update";
#else
constexpr const char* kLogFolder = "/log/update";
#endif

void FileUpdateLog::Write(const std::string& message) {
  std::lock_guard<std::mutex> lock(m_lock);
  const vx::FilePath folder = vx::PathFromUtf8(m_strFolder + kLogFolder);
  if (m_strPath.empty()) {
    m_strPath = vx::PathToUtf8(folder / vx::PathFromUtf8(m_strModule + " " + std::to_string(m_nPid) + ".log"));
  }
  vx::CreateFolders(folder);
  const std::time_t now = std::time(nullptr);
  std::tm local{};
#ifdef _WIN32
  localtime_s(&local, &now);
  FILE* f = _wfsopen(vx::ToWide(vx::Utf8ToUtf16(m_strPath)).c_str(), L"ab", _SH_DENYNO);
#else
  localtime_r(&now, &local);
  FILE* f = std::fopen(m_strPath.c_str(), "ab");
#endif
  if (!f) return;
  const std::string line = LogLine(local, message);
  std::fwrite(line.data(), 1, line.size(), f);
  std::fclose(f);
}

std::unique_ptr<UpdateLog> OpenProcessUpdateLog() {
  vx::FilePath program;
#ifdef _WIN32
  wchar_t path[MAX_PATH] = {};
  const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  if (n > 0 && n < MAX_PATH) program = vx::FilePath(path);
  const unsigned long pid = GetCurrentProcessId();
#else
  std::error_code ec;
  program = std::filesystem::read_symlink("/proc/self/exe", ec);
  const unsigned long pid = static_cast<unsigned long>(getpid());
#endif
#ifndef _WIN32
  if (program.empty()) program = std::filesystem::current_path(ec) / "program";
#endif
  return std::make_unique<FileUpdateLog>(vx::PathToUtf8(program.parent_path()),
                                         vx::PathToUtf8(program.filename()), pid);
}

}  // namespace update
