#include "base/fs_path.h"
#include "tools/mkpackage/host_file_system.h"

#include <cerrno>
#include <cstring>
#include <vector>

#include "base/utf16.h"

namespace fs = std::filesystem;

namespace mkpackage {
namespace {

// A target's name while it is written.
fs::path Temporary(const fs::path& target) {
  fs::path temporary = target;
  temporary += ".extracting";
  return temporary;
}

}  // namespace

HostPackageFile::HostPackageFile(const fs::path& path) : m_in(path, std::ios::binary) {
  std::error_code ec;
  m_nSize = fs::file_size(path, ec);
  if (ec) m_in.close();
}

size_t HostPackageFile::Read(void* out, size_t n) {
  m_in.read(static_cast<char*>(out), static_cast<std::streamsize>(n));
  const size_t got = static_cast<size_t>(m_in.gcount());
  m_nPosition += got;
  if (got < n) m_in.clear();
  return got;
}

bool HostPackageFile::Seek(uint64_t offset) {
  if (offset > m_nSize) return false;
  m_in.clear();
  m_in.seekg(static_cast<std::streamoff>(offset));
  if (!m_in) return false;
  m_nPosition = m_nLastSeek = offset;
  return true;
}

// One target, written under its temporary name.
class HostTarget : public setup::TargetFile {
 public:
  HostTarget(HostFileSystem& owner, const fs::path& temporary)
      : m_owner(owner), m_temporary(temporary), m_out(temporary, std::ios::binary | std::ios::trunc) {}
  bool ok() const { return static_cast<bool>(m_out); }

  bool Write(const uint8_t* data, size_t size) override {
    m_out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    if (!m_out) return Failed("write");
    m_owner.m_nBytesWritten += size;
    m_owner.m_nPendingBytes += size;
    return true;
  }
  bool Close() override {
    m_out.close();
    return m_out ? true : Failed("close");
  }

 private:
  bool Failed(const char* what) {
    m_owner.m_bWriteFailed = true;
    m_owner.m_lastError = std::string(what) + " \"" + vx::PathToUtf8(m_temporary) + "\": " + std::strerror(errno);
    return false;
  }
  HostFileSystem& m_owner;
  const fs::path m_temporary;
  std::ofstream m_out;
};

HostFileSystem::HostFileSystem(fs::path package, fs::path root, std::u16string prefix)
    : m_package(std::move(package)), m_root(std::move(root)), m_prefix(std::move(prefix)) {}

std::optional<fs::path> HostFileSystem::Map(const std::u16string& path, bool leafMayBeLink) {
  std::u16string_view rest;
  if (path.compare(0, m_prefix.size(), m_prefix) == 0)
    rest = std::u16string_view(path).substr(m_prefix.size());
  else if (path + u'\\' != m_prefix) {
    m_lastError = "outside the folder";
    return std::nullopt;
  }
  std::vector<std::u16string_view> names;
  for (size_t start = 0; start < rest.size();) {
    size_t end = start;
    while (end < rest.size() && rest[end] != u'\\' && rest[end] != u'/') ++end;
    const std::u16string_view name = rest.substr(start, end - start);
    if (name == u"." || name == u"..") {
      m_lastError = "a \".\" or \"..\" name";
      return std::nullopt;
    }
    if (!name.empty()) names.push_back(name);
    start = end + 1;
  }
  fs::path out = m_root;
  for (size_t i = 0; i < names.size(); ++i) {
    out /= fs::path(vx::PathFromUtf8(vx::Utf16ToUtf8(names[i])));
    std::error_code ec;
    if (fs::is_symlink(fs::symlink_status(out, ec)) && !(leafMayBeLink && i + 1 == names.size())) {
      m_lastError = "\"" + vx::PathToUtf8(out) + "\" is a link (not followed)";
      return std::nullopt;
    }
  }
  return out;
}

std::unique_ptr<setup::PackageFile> HostFileSystem::OpenPackage() {
  auto file = std::make_unique<HostPackageFile>(m_package);
  if (!file->ok()) return nullptr;
  return file;
}

std::u16string HostFileSystem::PackagePath() { return vx::Utf8ToUtf16(vx::PathToUtf8(m_package)); }

bool HostFileSystem::Exists(const std::u16string& path) {
  const auto p = Map(path, true);
  std::error_code ec;
  return p && fs::exists(fs::symlink_status(*p, ec));
}

setup::DirectoryResult HostFileSystem::MakeDirectory(const std::u16string& path) {
  const auto p = Map(path, false);
  if (!p) return setup::DirectoryResult::Failed;
  std::error_code ec;
  if (fs::create_directory(*p, ec)) return setup::DirectoryResult::Created;
  if (!ec && fs::is_directory(fs::symlink_status(*p, ec))) return setup::DirectoryResult::AlreadyExists;
  m_lastError = "cannot create \"" + vx::PathToUtf8(*p) + "\": " +
                (ec ? ec.message() : std::string("a file of that name is in the way"));
  return setup::DirectoryResult::Failed;
}

std::unique_ptr<setup::TargetFile> HostFileSystem::OpenForWrite(const std::u16string& path) {
  if (!path.empty() && (path.back() == u'\\' || path.back() == u'/')) {
    m_lastError = "no file name";
    return nullptr;
  }
  const auto target = Map(path, true);
  if (!target) return nullptr;
  const fs::path temporary = Temporary(*target);
  auto file = std::make_unique<HostTarget>(*this, temporary);
  if (!file->ok()) {
    m_lastError = "cannot create \"" + vx::PathToUtf8(temporary) + "\": " + std::strerror(errno);
    return nullptr;
  }
  m_pendingTarget = *target;
  m_nPendingBytes = 0;
  m_bWriteFailed = false;
  return file;
}

bool HostFileSystem::CommitFile(const std::u16string& path) {
  const auto target = Map(path, true);
  if (!target || target != m_pendingTarget) return false;
  const fs::path temporary = Temporary(*target);
  m_pendingTarget.reset();
  std::error_code ec;
  fs::rename(temporary, *target, ec);
  if (!ec) {
    m_nBytesCommitted += m_nPendingBytes;
    return true;
  }
  m_lastError = "cannot name \"" + vx::PathToUtf8(*target) + "\": " + ec.message();
  fs::remove(temporary, ec);
  return false;
}

void HostFileSystem::Delete(const std::u16string& path) {
  const auto target = Map(path, true);
  if (!target) return;
  std::error_code ec;
  if (target == m_pendingTarget) {
    fs::remove(Temporary(*target), ec);
    m_pendingTarget.reset();
  } else if (!fs::is_directory(fs::symlink_status(*target, ec))) {
    fs::remove(*target, ec);
  }
}

bool HostFileSystem::RemoveEmptyFolder(const std::u16string& path) {
  const auto p = Map(path, false);
  std::error_code ec;
  return p && fs::is_directory(fs::symlink_status(*p, ec)) && fs::is_empty(*p, ec) && fs::remove(*p, ec);
}

}  // namespace mkpackage
