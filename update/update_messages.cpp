#include "update/update_messages.h"

namespace update {

const char* RequestName(int32_t type) {
  switch (type) {
    case QR_UDT_GETVERSIONINFO: return "QR_UDT_GETVERSIONINFO_REQUEST";
    case QR_UDT_DOWNLOADFILEINFO: return "QR_UDT_DOWNLOADFILEINFO_REQUEST";
    case QR_UDT_DOWNLOADFILE: return "QR_UDT_DOWNLOADFILE_REQUEST";
    case QR_UDT_KEEPALIVE: return "QR_UDT_KEEPALIVE_REQUEST";
    case QR_UDT_ECHO: return "QR_UDT_ECHO_REQUEST";
    case QR_UDT_GETAUTHCODE_FT: return "QR_UDT_GETAUTHCODE_FT_REQUEST";
    case QR_UDT_DOWNLOADFILE_FT: return "QR_UDT_DOWNLOADFILE_FT_REQUEST";
    case QR_UDT_DOWNLOADFILEINFO_FT: return "QR_UDT_DOWNLOADFILEINFO_FT_REQUEST";
    case QR_UDT_DOWNLOADUPDATECONTENT_FT: return "QR_UDT_DOWNLOADUPDATECONTENT_FT_REQUEST";
    case QR_UDT_GETVERSIONINFOEX: return "QR_UDT_GETVERSIONINFOEX_REQUEST";
    case QR_UDT_DOWNLOADFILEINFOEX_FT: return "QR_UDT_DOWNLOADFILEINFOEX_FT_REQUEST";
    default: return "";
  }
}

const char* ResultName(int32_t result) {
  static const char* const kNames[] = {"SUCCESSED", "FAILED", "NOTINIT", "LOADXML",
                                       "INITNET", "DISCONNECT", "NEEDUPDATE", "NONEEDUPDATE",
                                       "NOTHAVEUPDATESRV", "NOSRVCANUSED", "FILENOTEXIST"};
  return result >= 0 && result <= FILENOTEXIST ? kNames[result] : "UNKNOWN";
}

std::vector<uint8_t> EncodeFileList(const std::vector<FileInfo>& files) {
  vx::VX_ByteStream s;
  Archive a(s);
  int32_t count = static_cast<int32_t>(files.size());
  a(count);
  for (FileInfo f : files) f.Fields(a);
  return s.TakeBytes();
}

bool DecodeFileList(const uint8_t* data, size_t size, std::vector<FileInfo>& files) {
  if (size > kMaxFileListBytes) return false;
  vx::VX_ByteStream s(vx::VX_ByteStream::LoadFrom, data, size);
  Archive a(s);
  std::vector<FileInfo> out;
  try {
    int32_t count = 0;
    a(count);
    // Each record takes at least 14 bytes: a count beyond that is a lie.
    if (count < 0 || static_cast<size_t>(count) > s.Remaining() / 14 ||
        static_cast<size_t>(count) > kMaxFileListEntries)
      return false;
    out.resize(static_cast<size_t>(count));
    for (FileInfo& f : out) f.Fields(a);
  } catch (const vx::VX_StreamError&) {
    return false;
  }
  files = std::move(out);
  return true;
}

}  // namespace update
