#include "tools/update_server/shared_codes.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstring>

#include <gcrypt.h>

#include "base/fs_path.h"
#include "net/gcrypt_init.h"

namespace update_server {
namespace {

constexpr char kBase32[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ234567";
constexpr size_t kCodeLength = 16;  // 80 bits

// 10 bytes -> 16 characters.
std::string Base32(const uint8_t* bytes) {
  std::string text;
  uint32_t buffer = 0;
  int bits = 0;
  for (size_t i = 0; i < 10; ++i) {
    buffer = (buffer << 8) | bytes[i];
    bits += 8;
    while (bits >= 5) {
      text += kBase32[(buffer >> (bits - 5)) & 31];
      bits -= 5;
    }
  }
  return text;
}

bool FromBase32(const std::string& text, uint8_t* bytes) {
  if (text.size() != kCodeLength) return false;
  uint32_t buffer = 0;
  int bits = 0;
  size_t out = 0;
  for (char c : text) {
    const char* at = std::strchr(kBase32, c);
    if (c == 0 || !at) return false;
    buffer = (buffer << 5) | uint32_t(at - kBase32);
    bits += 5;
    if (bits >= 8) {
      bytes[out++] = uint8_t(buffer >> (bits - 8));
      bits -= 8;
    }
  }
  return out == 10;
}

std::string Text(uint32_t expiry, const std::string& peer) {
  std::string message = "vx-code\n";
  for (int shift = 24; shift >= 0; shift -= 8) message += char((expiry >> shift) & 0xFF);
  return message + peer;
}

}  // namespace

uint32_t SharedCodes::NowMinutes() {
  using namespace std::chrono;
  return uint32_t(duration_cast<minutes>(system_clock::now().time_since_epoch()).count());
}

std::array<uint8_t, 32> SharedCodes::Mac(const std::string& message) const {
  vx::InitGcrypt();
  std::array<uint8_t, 32> tag{};
  gcry_mac_hd_t h = nullptr;
  size_t length = tag.size();
  if (gcry_mac_open(&h, GCRY_MAC_HMAC_SHA256, 0, nullptr) == 0) {
    if (gcry_mac_setkey(h, m_key.data(), m_key.size()) != 0 || gcry_mac_write(h, message.data(), message.size()) != 0 ||
        gcry_mac_read(h, tag.data(), &length) != 0)
      tag.fill(0);
    gcry_mac_close(h);
  }
  return tag;
}

std::string SharedCodes::Secret(const std::string& code) const {
  return Base32(Mac("vx-secret\n" + code).data());
}

void SharedCodes::Issue(const std::string& peer, uint32_t expiryMinutes, std::string& code,
                        std::string& secret) const {
  uint8_t bytes[10];
  for (int i = 0; i < 4; ++i) bytes[i] = uint8_t(expiryMinutes >> (24 - 8 * i));
  const auto tag = Mac(Text(expiryMinutes, peer));
  std::memcpy(bytes + 4, tag.data(), 6);
  code = Base32(bytes);
  secret = Secret(code);
}

std::optional<std::string> SharedCodes::SecretOf(const std::string& code, const std::string& peer,
                                                 uint32_t nowMinutes) const {
  uint8_t bytes[10];
  if (!FromBase32(code, bytes)) return std::nullopt;
  const uint32_t expiry = uint32_t(bytes[0]) << 24 | uint32_t(bytes[1]) << 16 | uint32_t(bytes[2]) << 8 | bytes[3];
  if (nowMinutes >= expiry) return std::nullopt;
  const auto tag = Mac(Text(expiry, peer));
  uint8_t differ = 0;
  for (int i = 0; i < 6; ++i) differ |= uint8_t(tag[size_t(i)] ^ bytes[4 + i]);
  if (differ != 0) return std::nullopt;
  return Secret(code);
}

bool SharedCodes::CreateKeyFile(const std::filesystem::path& path, std::string& error) {
  vx::InitGcrypt();
  Key key;
  gcry_randomize(key.data(), key.size(), GCRY_VERY_STRONG_RANDOM);
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) {
    error = "cannot create the key file " + vx::PathToUtf8(path) + ": " + std::strerror(errno);
    return false;
  }
  const bool written = ::write(fd, key.data(), key.size()) == ssize_t(key.size()) && ::fsync(fd) == 0;
  ::close(fd);
  if (!written) {
    ::unlink(path.c_str());
    error = "cannot write the key file " + vx::PathToUtf8(path);
    return false;
  }
  return true;
}

std::optional<SharedCodes> SharedCodes::Load(const std::filesystem::path& path, std::string& error) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat info {};
  if (fd < 0 || ::fstat(fd, &info) != 0) {
    error = "cannot read the key file " + vx::PathToUtf8(path) + ": " + std::strerror(errno);
    if (fd >= 0) ::close(fd);
    return std::nullopt;
  }
  Key key;
  const bool whole = S_ISREG(info.st_mode) && info.st_size == off_t(key.size()) &&
                     ::read(fd, key.data(), key.size()) == ssize_t(key.size());
  ::close(fd);
  if ((info.st_mode & 077) != 0) {
    error = "the key file " + vx::PathToUtf8(path) + " may be read by others than its owner (chmod 600 it)";
    return std::nullopt;
  }
  if (!whole) {
    error = "not a key file of " + std::to_string(key.size()) + " bytes: " + vx::PathToUtf8(path);
    return std::nullopt;
  }
  return SharedCodes(key);
}

}  // namespace update_server
