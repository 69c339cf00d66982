#pragma once
// Requests and responses of the update protocol. Each travels as the body of
// one PDU whose type is the message's type code; every body starts with the
// int32 type code, every response body then with the int32 result. Fields
// follow in wire order, encoded with VX_ByteStream.
#include <cstdint>
#include <string>
#include <vector>

#include "base/vx_byte_stream.h"

namespace update {

enum MessageType : int32_t {
  QR_UDT_GETVERSIONINFO = 0,
  QR_UDT_DOWNLOADFILEINFO = 1,
  QR_UDT_DOWNLOADFILE = 2,
  QR_UDT_KEEPALIVE = 3,
  QR_UDT_ECHO = 4,
  QR_UDT_GETAUTHCODE_FT = 5,
  QR_UDT_DOWNLOADFILE_FT = 6,
  QR_UDT_DOWNLOADFILEINFO_FT = 7,
  QR_UDT_DOWNLOADUPDATECONTENT_FT = 8,
  QR_UDT_GETVERSIONINFOEX = 9,
  QR_UDT_DOWNLOADFILEINFOEX_FT = 11,
};

// "QR_UDT_GETVERSIONINFO_REQUEST" and so on; "" for an unassigned code.
const char* RequestName(int32_t type);

enum Result : int32_t {
  SUCCESSED = 0, FAILED, NOTINIT, LOADXML, INITNET, DISCONNECT, NEEDUPDATE, NONEEDUPDATE,
  NOTHAVEUPDATESRV, NOSRVCANUSED, FILENOTEXIST,
};
// "SUCCESSED" ... "FILENOTEXIST", "UNKNOWN" for any other value.
const char* ResultName(int32_t result);

// Field visitor over a byte stream, one direction at a time.
class Archive {
 public:
  explicit Archive(vx::VX_ByteStream& s) : m_s(s) {}
  void operator()(int32_t& v) { if (m_s.IsLoading()) v = m_s.ReadInt32(); else m_s.WriteInt32(v); }
  void operator()(uint16_t& v) { if (m_s.IsLoading()) v = m_s.ReadUInt16(); else m_s.WriteUInt16(v); }
  void operator()(std::u16string& v) { if (m_s.IsLoading()) v = m_s.ReadString(); else m_s.WriteString(v); }
  void operator()(std::vector<uint8_t>& v) {
    if (m_s.IsLoading()) v = m_s.ReadBlock(); else m_s.WriteBlock(v.data(), v.size());
  }
  // `count` raw bytes, the count stated by an earlier field.
  void Raw(std::vector<uint8_t>& v, int32_t count) {
    if (m_s.IsLoading()) {
      if (count < 0 || static_cast<size_t>(count) > m_s.Remaining())
        throw vx::VX_StreamError(vx::kStreamErrorLoad);
      v.resize(static_cast<size_t>(count));
      m_s.ReadRaw(v.data(), v.size());
    } else {
      if (count < 0 || static_cast<size_t>(count) != v.size()) throw vx::VX_StreamError(vx::kStreamErrorStore);
      m_s.WriteRaw(v.data(), v.size());
    }
  }

 private:
  vx::VX_ByteStream& m_s;
};

struct VersionRecord {
  std::u16string text1, text2, text3;
  int32_t date = 0, timeOfDay = 0;  // timeOfDay in [0, 864000000)
  int32_t number1 = 0, number2 = 0, build = 0;
  std::u16string text4;
  std::u16string fileListName;
  std::u16string versionString;
  template <class A> void Fields(A& a) {
    a(text1); a(text2); a(text3); a(date); a(timeOfDay); a(number1); a(number2); a(build);
    a(text4); a(fileListName); a(versionString);
  }
  // The file-list name with ".udt!" appended; empty for an empty name.
  std::u16string UdtName() const { return fileListName.empty() ? u"" : fileListName + u".udt!"; }
};

struct BlockRecord {  // five int32 values; in a response the fourth counts the bytes that follow
  int32_t values[5] = {};
  std::vector<uint8_t> data;  // responses only
};

// --- Requests -------------------------------------------------------------
struct GetVersionInfoRequest {
  static constexpr int32_t kType = QR_UDT_GETVERSIONINFO;
  static constexpr bool kResponse = false;
  template <class A> void Fields(A&) {}
};
struct DownloadFileInfoRequest {
  static constexpr int32_t kType = QR_UDT_DOWNLOADFILEINFO;
  static constexpr bool kResponse = false;
  BlockRecord block;
  template <class A> void Fields(A& a) { for (auto& v : block.values) a(v); }
};
struct DownloadFileRequest {
  static constexpr int32_t kType = QR_UDT_DOWNLOADFILE;
  static constexpr bool kResponse = false;
  BlockRecord block;
  template <class A> void Fields(A& a) { for (auto& v : block.values) a(v); }
};
struct KeepAliveRequest {
  static constexpr int32_t kType = QR_UDT_KEEPALIVE;
  static constexpr bool kResponse = false;
  int32_t reserved = 0;
  template <class A> void Fields(A& a) { a(reserved); }
};
struct EchoRequest {
  static constexpr int32_t kType = QR_UDT_ECHO;
  static constexpr bool kResponse = false;
  std::vector<uint8_t> data;
  template <class A> void Fields(A& a) { a(data); }
};
struct GetAuthCodeFtRequest {
  static constexpr int32_t kType = QR_UDT_GETAUTHCODE_FT;
  static constexpr bool kResponse = false;
  template <class A> void Fields(A&) {}
};
struct DownloadFileFtRequest {
  static constexpr int32_t kType = QR_UDT_DOWNLOADFILE_FT;
  static constexpr bool kResponse = false;
  int32_t nFileID = 0, flag = 1;
  std::u16string authCode, secretKey, strFileKey;
  template <class A> void Fields(A& a) { a(nFileID); a(flag); a(authCode); a(secretKey); a(strFileKey); }
};
struct DownloadFileInfoFtRequest {
  static constexpr int32_t kType = QR_UDT_DOWNLOADFILEINFO_FT;
  static constexpr bool kResponse = false;
  std::u16string authCode, secretKey;
  template <class A> void Fields(A& a) { a(authCode); a(secretKey); }
};
struct DownloadUpdateContentFtRequest {
  static constexpr int32_t kType = QR_UDT_DOWNLOADUPDATECONTENT_FT;
  static constexpr bool kResponse = false;
  int32_t number = 0;
  std::u16string text1, text2;
  template <class A> void Fields(A& a) { a(number); a(text1); a(text2); }
};
struct GetVersionInfoExRequest {
  static constexpr int32_t kType = QR_UDT_GETVERSIONINFOEX;
  static constexpr bool kResponse = false;
  int32_t productNumber = 0;
  template <class A> void Fields(A& a) { a(productNumber); }
};
struct DownloadFileInfoExFtRequest {
  static constexpr int32_t kType = QR_UDT_DOWNLOADFILEINFOEX_FT;
  static constexpr bool kResponse = false;
  std::u16string authCode, secretKey;
  template <class A> void Fields(A& a) { a(authCode); a(secretKey); }
};

// --- Responses ------------------------------------------------------------
struct GetVersionInfoResponse {  // also the answer to GETVERSIONINFOEX
  static constexpr int32_t kType = QR_UDT_GETVERSIONINFO;
  static constexpr bool kResponse = true;
  int32_t result = SUCCESSED;
  VersionRecord version;
  std::u16string trailer;
  template <class A> void Fields(A& a) { version.Fields(a); a(trailer); }
};
template <int32_t Type>
struct BlockResponse {
  static constexpr int32_t kType = Type;
  static constexpr bool kResponse = true;
  int32_t result = SUCCESSED;
  BlockRecord block;
  template <class A> void Fields(A& a);
};
using DownloadFileInfoResponse = BlockResponse<QR_UDT_DOWNLOADFILEINFO>;
using DownloadFileResponse = BlockResponse<QR_UDT_DOWNLOADFILE>;
struct KeepAliveResponse {
  static constexpr int32_t kType = QR_UDT_KEEPALIVE;
  static constexpr bool kResponse = true;
  int32_t result = SUCCESSED;
  template <class A> void Fields(A&) {}
};
struct EchoResponse {
  static constexpr int32_t kType = QR_UDT_ECHO;
  static constexpr bool kResponse = true;
  int32_t result = SUCCESSED;
  std::vector<uint8_t> data;
  template <class A> void Fields(A& a) { a(data); }
};
struct GetAuthCodeFtResponse {
  static constexpr int32_t kType = QR_UDT_GETAUTHCODE_FT;
  static constexpr bool kResponse = true;
  int32_t result = SUCCESSED;
  uint16_t port = 0;
  int32_t reserved = 0;
  std::u16string authCode, secretKey;
  template <class A> void Fields(A& a) { a(port); a(reserved); a(authCode); a(secretKey); }
};
struct DownloadFileFtResponse {
  static constexpr int32_t kType = QR_UDT_DOWNLOADFILE_FT;
  static constexpr bool kResponse = true;
  int32_t result = SUCCESSED;
  int32_t nFileID = 0;
  std::u16string fileKey;
  template <class A> void Fields(A& a) { a(nFileID); a(fileKey); }
};
struct DownloadFileInfoFtResponse {
  static constexpr int32_t kType = QR_UDT_DOWNLOADFILEINFO_FT;
  static constexpr bool kResponse = true;
  int32_t result = SUCCESSED;
  template <class A> void Fields(A&) {}
};
struct DownloadUpdateContentFtResponse {
  static constexpr int32_t kType = QR_UDT_DOWNLOADUPDATECONTENT_FT;
  static constexpr bool kResponse = true;
  int32_t result = SUCCESSED;
  std::u16string fileKey, text;
  template <class A> void Fields(A& a) { a(fileKey); a(text); }
};
struct DownloadFileInfoExFtResponse {
  static constexpr int32_t kType = QR_UDT_DOWNLOADFILEINFOEX_FT;
  static constexpr bool kResponse = true;
  int32_t result = SUCCESSED;
  std::u16string fileKey;
  template <class A> void Fields(A& a) { a(fileKey); }
};

// The block response's data follows its fourth value, which counts it.
template <int32_t Type>
template <class A>
void BlockResponse<Type>::Fields(A& a) {
  for (auto& v : block.values) a(v);
  a.Raw(block.data, block.values[3]);
}

// Encodes type code, result (responses) and fields. Empty when the message
// cannot be encoded (a block count that differs from its data).
template <class M>
std::vector<uint8_t> Encode(const M& message) {
  M copy = message;
  vx::VX_ByteStream s;
  Archive a(s);
  try {
    int32_t type = M::kType;
    a(type);
    if constexpr (M::kResponse) a(copy.result);
    copy.Fields(a);
  } catch (const vx::VX_StreamError&) {
    return {};
  }
  return s.TakeBytes();
}

// Decodes a body; false when it is shorter than its fields, has a bad string
// prefix or carries another type code. Trailing bytes are ignored.
template <class M>
bool Decode(const uint8_t* body, size_t size, M& message) {
  vx::VX_ByteStream s(vx::VX_ByteStream::LoadFrom, body, size);
  Archive a(s);
  M decoded;
  try {
    int32_t type = -1;
    a(type);
    if (type != M::kType) return false;
    if constexpr (M::kResponse) a(decoded.result);
    decoded.Fields(a);
  } catch (const vx::VX_StreamError&) {
    return false;
  }
  message = std::move(decoded);
  return true;
}

// --- File list ------------------------------------------------------------
struct FileInfo {
  int32_t nFileID = 0;
  int32_t type = 0;  // -1 directory, 5 not to download, else a file
  int32_t size = 0;
  std::u16string strFileKey;  // relative path with backslashes
  std::u16string fileIdText;
  template <class A> void Fields(A& a) { a(nFileID); a(type); a(size); a(strFileKey); a(fileIdText); }
  bool operator==(const FileInfo&) const = default;
};
constexpr int32_t kFileTypeDirectory = -1;
constexpr int32_t kFileTypeNoDownload = 5;

// Bounds of a file list a client takes: the bytes it reads whole into a
// 32-bit process, and the entries it holds (each some hundred bytes).
inline constexpr size_t kMaxFileListBytes = size_t(64) << 20;
inline constexpr size_t kMaxFileListEntries = 250000;

std::vector<uint8_t> EncodeFileList(const std::vector<FileInfo>& files);
// False for a list that cannot be read, or one of more than
// kMaxFileListBytes or kMaxFileListEntries.
bool DecodeFileList(const uint8_t* data, size_t size, std::vector<FileInfo>& files);

}  // namespace update
