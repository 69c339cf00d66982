#include "setup/integration/config_files.h"

#include <new>

#include "base/path_join.h"
#include "setup/integration/config_file_io.h"

namespace setup::config {
namespace {

using std::u16string;
using std::u16string_view;

// The root as typed, without trailing backslashes (a drive root keeps one).
u16string TrimmedRoot(u16string_view root) {
  u16string r(root);
  while (r.size() > 1 && r.back() == u'\\' && !(r.size() == 3 && r[1] == u':')) r.pop_back();
  return r;
}

bool HasStart(std::string_view s, std::string_view prefix) { return s.substr(0, prefix.size()) == prefix; }

enum class Unreadable { Report, Ignore };

// Reads an existing file, applies `rewrite` to its bytes and replaces it.
template <class F>
bool RewriteFile(u16string_view path, const ConfigEnvironment& env, Unreadable unreadable, F&& rewrite) {
  if (!FileExists(path)) return false;
  const auto bytes = ReadFileBytes(path);
  if (!bytes) {
    if (unreadable == Unreadable::Report && env.onUnreadable) env.onUnreadable(path);
    return false;
  }
  std::string out;
  try {
    out = rewrite(*bytes);
  } catch (const std::bad_alloc&) {
    return false;
  }
  if (out == *bytes) return true;
  return ReplaceFileBytes(path, out);
}

u16string Quoted(u16string_view prefix, u16string_view root, u16string_view suffix) {
  return u"\"" + u16string(prefix) + u16string(root) + u16string(suffix) + u"\"";
}

}  // namespace

bool EditProfile(u16string_view path, const std::vector<ProfileValue>& values, const ConfigEnvironment& env) {
  if (path.empty()) return false;
  // Profile edits fail silently.
  return RewriteFile(path, env, Unreadable::Ignore, [&](const std::string& bytes) {
    if (HasStart(bytes, "\xFF\xFE")) {
      if (auto text = Utf16FromBytes(bytes)) {
        for (const auto& v : values) *text = SetProfileValue(*text, v.section, v.key, v.value);
        return Utf16ToBytes(*text);
      }
    }
    std::string text = bytes;
    for (const auto& v : values) text = SetProfileValue(text, env.toAnsi(v.section), env.toAnsi(v.key), env.toAnsi(v.value));
    return text;
  });
}

bool SetPhpIni(u16string_view root, u16string_view file, const ConfigEnvironment& env) {
  if (root.empty() || file.empty()) return false;
  const u16string r = TrimmedRoot(root);
  const std::vector<ProfileValue> values = {
      {u"PHP", u"include_path", Quoted(u".;", r, u"\\pear\\")},
      {u"PHP", u"extension_dir", Quoted(u"", r, u"\\php\\ext\\")},
      {u"PHP", u"upload_tmp_dir", Quoted(u"", r, u"\\tmp")},
      {u"Session", u"session.save_path", Quoted(u"", r, u"\\tmp")},
      {u"soap", u"soap.wsdl_cache_dir", Quoted(u"", r, u"\\tmp")},
      {u"eAccelerator", u"eaccelerator.cache_dir", Quoted(u"", r, u"\\tmp")},
      {u"browscap", u"browscap", Quoted(u"", r, u"\\php\\browscap\\browscap.ini")},
      {u"mime_magic", u"mime_magic.magicfile", Quoted(u"", r, u"\\php\\extras\\magic.mime")},
      {u"Zend", u"zend_extension_ts",
       Quoted(u"", r, u"\\php\\zendOptimizer\\lib\\Optimizer\\php-5.2.x\\ZendOptimizer.dll")},
  };
  return EditProfile(vx::JoinPath(root, file), values, env);
}

bool ReplaceXamppRoot(u16string_view root, u16string_view file, const ConfigEnvironment& env) {
  if (root.empty() || file.empty()) return false;
  const std::string ansiRoot = env.toAnsi(TrimmedRoot(root));
  return RewriteFile(vx::JoinPath(root, file), env, Unreadable::Report, [&](const std::string& bytes) {
    return ReplaceXamppRootText(bytes, ansiRoot, env.isLeadByte);
  });
}

bool ReplaceDownloadHost(u16string_view root, u16string_view file, u16string_view address,
                         const ConfigEnvironment& env) {
  if (root.empty() || file.empty() || address.empty()) return false;
  const std::string ansiAddress = env.toAnsi(address);
  return RewriteFile(vx::JoinPath(root, file), env, Unreadable::Report, [&](const std::string& bytes) {
    return ReplaceDownloadHostText(bytes, ansiAddress);
  });
}

bool SetGatewayIp(u16string_view folder, u16string_view file, u16string_view address, const ConfigEnvironment& env) {
  if (folder.empty() || file.empty() || address.empty()) return false;
  return EditProfile(vx::JoinPath(folder, file), {{u"gate_msg_1", u"IP", u16string(address)}}, env);
}

bool SetConfServerVoip(u16string_view folder, u16string_view file, u16string_view address,
                       u16string_view recordPath, const ConfigEnvironment& env) {
  if (folder.empty() || file.empty() || address.empty()) return false;
  const u16string v = u16string(address) + u":2850";
  return EditProfile(vx::JoinPath(folder, file),
                     {{u"VoIP", u"SrvAddr_tcp", v},
                      {u"VoIP", u"SrvAddr_udp", v},
                      {u"H323", u"SrvAddr_tcp", v},
                      {u"H323", u"SrvAddr_udp", v},
                      {u"Record", u"Path", u16string(recordPath)}},
                     env);
}

bool SetCenterAddress(u16string_view folder, u16string_view file, u16string_view address,
                      const ConfigEnvironment& env) {
  if (folder.empty() || file.empty() || address.empty()) return false;
  const u16string a(address);
  return EditProfile(vx::JoinPath(folder, file),
                     {{u"ZepCenterAuthSrv", u"SrvAddr1", a + u":3800"},
                      {u"Local Server", u"IPAddr", a + u":1"},
                      {u"ZepCenter Server", u"SrvAddr1", a + u":3800"}},
                     env);
}

bool SetWebConnectParams(u16string_view folder, u16string_view file, u16string_view address,
                         const ConfigEnvironment& env) {
  if (folder.empty() || file.empty() || address.empty()) return false;
  const u16string a(address);
  return EditProfile(vx::JoinPath(folder, file),
                     {{u"connectparm", u"zepip", a}, {u"connectparm", u"confsrvip", a + u":1:2810:2810"}}, env);
}

void ConfigureServerFiles(u16string_view rootAsTyped, u16string_view packageKind, u16string_view address,
                          const ConfigEnvironment& env) {
  const u16string root = TrimmedRoot(rootAsTyped);
  if (root.empty()) return;
  const u16string web = vx::JoinPath(root, u"Web_Server");
  auto firstFolder = [&](u16string_view a, u16string_view b) {
    if (FolderExists(vx::JoinPath(root, a))) return vx::JoinPath(root, a);
    if (FolderExists(vx::JoinPath(root, b))) return vx::JoinPath(root, b);
    return u16string();
  };
  const u16string conf = firstFolder(u"视频会议服务器", u"ConfServer");
  const u16string gateway = firstFolder(u"H323接入服务器", u"H323transsrv");
  const bool hasWeb = FolderExists(web);

  if (packageKind == u"PHP") {
    if (hasWeb) {
      SetPhpIni(web, u"php\\php.ini", env);
      ReplaceXamppRoot(web, u"apache\\conf\\httpd.conf", env);
      ReplaceXamppRoot(web, u"apache\\conf\\extra\\httpd-xampp.conf", env);
      ReplaceDownloadHost(web, u"htdocs\\config\\conf.inc.php", address, env);
    }
    if (!conf.empty())
      SetConfServerVoip(conf, u"ConfSrv.ini", address,
                        vx::JoinPath(root, u"Web_Server\\htdocs\\public\\upload\\server_upload"), env);
    if (!gateway.empty()) SetGatewayIp(gateway, u"ExDevConfig.ini", address, env);
  } else if (packageKind == u"JSP") {
    if (hasWeb)
      ReplaceDownloadHost(web, u"webapps\\confManage\\WEB-INF\\classes\\com\\quorin\\data\\ConfServer.properties",
                          address, env);
  }
  ReplaceXamppRoot(root, u"Mysql\\bin\\my.ini", env);
  if (!conf.empty()) SetCenterAddress(conf, u"ConfSrv.ini", address, env);
  const u16string config = vx::JoinPath(root, u"Web_Server\\htdocs\\config");
  if (FolderExists(config)) SetWebConnectParams(config, u"config.ini", address, env);
}

bool WriteClientLoginAddress(u16string_view folder, u16string_view address, const ConfigEnvironment& env) {
  if (folder.empty() || address.empty()) return false;
  return EditProfile(vx::JoinPath(folder, u"IniFolder\\tempconfig.ini"), {{u"Log In", u"IP", u16string(address)}},
                     env);
}

bool RewriteClientServerAddress(u16string_view installDir, u16string_view address) {
  if (installDir.empty() || address.empty()) return false;
  auto rewrite = [&](u16string_view name, const std::vector<u16string>& keys) {
    const u16string path = vx::JoinPath(installDir, name);
    if (!FileExists(path)) return false;
    const auto bytes = ReadFileBytes(path);
    if (!bytes) return false;
    const auto text = Utf16FromBytes(*bytes);
    if (!text) return false;
    const auto out = RewriteKeyValues(*text, keys, address);
    return out && ReplaceFileBytes(path, Utf16ToBytes(*out));
  };
  return rewrite(u"qrvcos.ini", {u"Server IP=", u"Udp Server IP=", u"Meeting Server IP="}) &&
         rewrite(u"sysvideo.ini", {u"Meeting Server IP="});
}

}  // namespace setup::config
