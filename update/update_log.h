#pragma once
// The update library's text log: "log\update" below the program's folder, the
// file "<module> <pid>.log" fixed on the first write, one line "<time> message"
// per call, the file opened, appended to and closed each time.
#include <ctime>
#include <memory>
#include <mutex>
#include <string>

namespace update {

class UpdateLog {
 public:
  virtual ~UpdateLog() = default;
  virtual void Write(const std::string& message) = 0;  // UTF-8
};

// Local time as "%d-%d-%d %d:%d:%d" without leading zeros.
std::string LogTime(const std::tm& t);
// "<time> message\r\n"
std::string LogLine(const std::tm& t, const std::string& message);

class FileUpdateLog : public UpdateLog {
 public:
  // `programFolder` holds the program; `moduleName` is its file name.
  FileUpdateLog(std::string programFolder, std::string moduleName, unsigned long processId);
  void Write(const std::string& message) override;
  const std::string& Path() const { return m_strPath; }  // empty before the first write

 private:
  std::mutex m_lock;
  std::string m_strFolder, m_strModule;
  unsigned long m_nPid;
  std::string m_strPath;
};

// The log of this process: below the folder of its program file, named after it.
std::unique_ptr<UpdateLog> OpenProcessUpdateLog();

}  // namespace update
