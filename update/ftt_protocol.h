#pragma once
// Bodies of the transfer PDUs (types 0xCC01-0xCC0E), carried by the PDU
// framing of the network core. Integers little-endian, strings with the
// compact length prefix, as VX_ByteStream writes them. Our own design:
//
//   0xCC01 PDU_FTT_AUTH, receiver -> sender, once per connection:
//            int32 version (1), string authCode, string file key,
//            string file identity, string key proof
//          (key proof: MD5 hex of the secret key followed by the file key,
//          so that the key itself never travels)
//          sender -> receiver: int32 result (FTTR_*), int64 file length
//   0xCC02 PDU_FTT_DOWNLOAD_REQUEST, receiver -> sender:
//            int64 offset, int32 length (at most kMaxRequestLength)
//   0xCC03 PDU_FTT_DOWNLOAD_RESPONSE, sender -> receiver, one per piece of
//          a request: int64 offset, then raw data to the end of the body
//          (at most FTT_MAX_PACKAGE_SIZE bytes)
//   0xCC08 PDU_FTT_NOTIFY_PAUSE_TASK, 0xCC09 PDU_FTT_NOTIFY_RESUME_TASK:
//          empty bodies
//   0xCC0A PDU_FTT_NOTIFY_RECVED, receiver -> sender: int64 file length
//   0xCC0B PDU_FTT_NOTIFY_CLOSED: int32 reason (FTTR_*)
//   0xCC0C PDU_FTT_NOTIFY_PROGRESS, receiver -> sender: int32 progress in
//          tenths of a percent
//   0xCC0D ignored by both sides
//   0xCC0E PDU_FTT_ERROR: int32 code (FTTR_*), string text
//   0xCC0F PDU_FTT_FEATURES, sender -> receiver, right after every accepted
//          AUTH: int32 feature bits (kFeatureReauth), trailing bytes allowed
//          for later fields; receivers that do not know the type ignore it
//
// A connection must authenticate before any other PDU; a sender answers a
// refused AUTH (unknown code, bad proof, unknown key) with the AUTH response
// carrying FTTR_ERR_AUTH_DENIED or FTTR_ERR_FILE_NOT_EXIST and closes it.
// Requests are answered in the order they arrive, so a receiver may send the
// next ones (and the first one right behind its AUTH) before the answers are
// in. A sender that announced kFeatureReauth takes a further AUTH on the same
// connection as a switch to another file (the receiver sends it only when no
// request is outstanding); others refuse it and close.
#include <cstdint>
#include <string>
#include <vector>

namespace ftt {

enum PduType : uint16_t {
  PDU_FTT_AUTH = 0xCC01,
  PDU_FTT_DOWNLOAD_REQUEST = 0xCC02,
  PDU_FTT_DOWNLOAD_RESPONSE = 0xCC03,
  PDU_FTT_NOTIFY_PAUSE_TASK = 0xCC08,
  PDU_FTT_NOTIFY_RESUME_TASK = 0xCC09,
  PDU_FTT_NOTIFY_RECVED = 0xCC0A,
  PDU_FTT_NOTIFY_CLOSED = 0xCC0B,
  PDU_FTT_NOTIFY_PROGRESS = 0xCC0C,
  PDU_FTT_IGNORED = 0xCC0D,
  PDU_FTT_ERROR = 0xCC0E,
  PDU_FTT_FEATURES = 0xCC0F,
};

// Feature bits of PDU_FTT_FEATURES.
inline constexpr int32_t kFeatureReauth = 1;

inline constexpr int32_t kProtocolVersion = 1;
inline constexpr int32_t kMaxRequestLength = 1 << 20;

struct AuthRequest {
  int32_t version = kProtocolVersion;
  std::string authCode;
  std::u16string fileKey, identity;
  std::string keyProof;
  bool operator==(const AuthRequest&) const = default;
};

struct AuthResponse {
  int32_t result = 0;
  int64_t fileLength = 0;
  bool operator==(const AuthResponse&) const = default;
};

struct DownloadRequest {
  int64_t offset = 0;
  int32_t length = 0;
  bool operator==(const DownloadRequest&) const = default;
};

struct DownloadResponse {
  int64_t offset = 0;
  std::vector<uint8_t> data;
  bool operator==(const DownloadResponse&) const = default;
};

struct ErrorNotice {
  int32_t code = 0;
  std::u16string text;
  bool operator==(const ErrorNotice&) const = default;
};

// MD5 hex of the secret key (up to its first NUL, at most 16 bytes) and the
// UTF-8 file key.
std::string KeyProof(const char* secretKey, const std::u16string& fileKey);

std::vector<uint8_t> EncodeAuthRequest(const AuthRequest& m);
std::vector<uint8_t> EncodeAuthResponse(const AuthResponse& m);
std::vector<uint8_t> EncodeDownloadRequest(const DownloadRequest& m);
// Empty when the data exceeds FTT_MAX_PACKAGE_SIZE.
std::vector<uint8_t> EncodeDownloadResponse(const DownloadResponse& m);
std::vector<uint8_t> EncodeInt64Notice(int64_t value);  // RECVED
std::vector<uint8_t> EncodeInt32Notice(int32_t value);  // CLOSED, PROGRESS
std::vector<uint8_t> EncodeErrorNotice(const ErrorNotice& m);

// False for a body that is short, malformed or out of its limits (a negative
// or too long request, data beyond FTT_MAX_PACKAGE_SIZE, trailing bytes).
bool DecodeAuthRequest(const uint8_t* body, size_t size, AuthRequest& m);
bool DecodeAuthResponse(const uint8_t* body, size_t size, AuthResponse& m);
bool DecodeDownloadRequest(const uint8_t* body, size_t size, DownloadRequest& m);
bool DecodeDownloadResponse(const uint8_t* body, size_t size, DownloadResponse& m);
// The same without copying: `data` points into `body`.
bool ParseDownloadResponse(const uint8_t* body, size_t size, int64_t& offset, const uint8_t*& data, size_t& n);
// Bytes before the data in a download response body.
inline constexpr size_t kDownloadResponseHeader = 8;
bool DecodeInt64Notice(const uint8_t* body, size_t size, int64_t& value);
bool DecodeInt32Notice(const uint8_t* body, size_t size, int32_t& value);
bool DecodeErrorNotice(const uint8_t* body, size_t size, ErrorNotice& m);
// The feature bits; bytes after them are left for later fields.
bool DecodeFeatures(const uint8_t* body, size_t size, int32_t& features);

}  // namespace ftt
