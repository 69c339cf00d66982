#pragma once
// Authorisation codes that every instance started with the same key file
// verifies, so that several servers behind one address can share clients.
// A code is 16 characters: its expiry (minutes of Unix time, 32 bits) and an
// HMAC-SHA256 tag (48 bits) over the expiry and the address it was issued
// to, in base32. Its secret key is 16 characters of an HMAC of the code.
#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace update_server {

class SharedCodes {
 public:
  static constexpr size_t kKeyBytes = 32;
  using Key = std::array<uint8_t, kKeyBytes>;

  explicit SharedCodes(const Key& key) : m_key(key) {}

  // Writes a new random key to `path` (which must not exist), readable and
  // writable by its owner only. False with `error`.
  static bool CreateKeyFile(const std::filesystem::path& path, std::string& error);
  // Reads a key file; refuses one that others than its owner may read, or
  // of another size.
  static std::optional<SharedCodes> Load(const std::filesystem::path& path, std::string& error);

  // A code and its secret for `peer`, valid until `expiryMinutes` (Unix time).
  void Issue(const std::string& peer, uint32_t expiryMinutes, std::string& code, std::string& secret) const;
  // The secret of `code` when it was issued by this key to `peer` and has
  // not expired at `nowMinutes`.
  std::optional<std::string> SecretOf(const std::string& code, const std::string& peer, uint32_t nowMinutes) const;

  static uint32_t NowMinutes();

 private:
  std::array<uint8_t, 32> Mac(const std::string& message) const;
  std::string Secret(const std::string& code) const;

  Key m_key;
};

}  // namespace update_server
