// Configuration-file rewrites: whole files compared byte for byte.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "base/utf16.h"
#include "setup/integration/config_file_io.h"
#include "setup/integration/config_files.h"
#include "setup/integration/config_text.h"
#include "tests/support/temp_folder.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <csignal>
#include <sys/resource.h>
#endif

namespace fs = std::filesystem;
using namespace setup::config;

namespace {

std::string Read(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void Write(const fs::path& p, const std::string& bytes) {
  fs::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
}

bool GbkLead(unsigned char c) { return c >= 0x81 && c <= 0xFE; }

ConfigEnvironment TestEnvironment() {
  ConfigEnvironment env;
  env.toAnsi = [](std::u16string_view s) { return vx::Utf16ToUtf8(s); };
  env.isLeadByte = GbkLead;
  return env;
}

class ConfigFolder : public ::testing::Test {
 protected:
  fs::path root;
  void SetUp() override {
    root = testing_support::TempFolder(
        "vc-config-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(root);
    fs::create_directories(root);
  }
  void TearDown() override { fs::remove_all(root); }
  // The root as a Windows-style text path.
  std::u16string Root() const {
    std::u16string r = root.u16string();
#ifndef _WIN32
    for (auto& c : r)
      if (c == u'/') c = u'\\';
#endif
    return r;
  }
  // Text form of a root-relative path, as the edits write it into files.
  std::string RootText() const { return vx::Utf16ToUtf8(Root()); }
  std::string RootSlashes() const {
    std::string r = RootText();
    for (auto& c : r)
      if (c == '\\') c = '/';
    return r;
  }
};

}  // namespace

TEST(ConfigText, XamppRootReplacesOnlyMarkedLinesAndTurnsTheirBackslashes) {
  const std::string text =
      "# C:\\keep\\this\r\n"
      "DocumentRoot \"/xampplite/htdocs\"\r\n"
      "Alias /x \"/xampplite\\phpMyAdmin\\\" \x1A\r\n"
      "last line without newline /xampplite";
  EXPECT_EQ(ReplaceXamppRootText(text, "C:\\Srv\\Web_Server", GbkLead),
            "# C:\\keep\\this\r\n"
            "DocumentRoot \"C:/Srv/Web_Server/htdocs\"\r\n"
            "Alias /x \"C:/Srv/Web_Server/phpMyAdmin/\" \x1A\r\n"
            "last line without newline C:/Srv/Web_Server");
  // A double-byte character whose trail byte is 0x5C stays intact.
  EXPECT_EQ(ReplaceXamppRootText("/xampplite\\\x95\\\\x\n", "D:\\\x95\\", GbkLead), "D:/\x95\\/\x95\\/x\n");
}

TEST(ConfigText, PatternsAcrossByte259OfALongLineAreFound) {
  std::string line(250, 'a');
  line += "/xampplite";  // bytes 250..259
  line += std::string(300, 'b') + "\\/xampplite\\end\n";
  const std::string text = "first\n" + line + "next \\ line\n";
  std::string expected(250, 'a');
  expected += "R:/r" + std::string(300, 'b') + "/R:/r/end\n";
  EXPECT_EQ(ReplaceXamppRootText(text, "R:\\r", GbkLead), "first\n" + expected + "next \\ line\n");

  std::string host = "$x = '" + std::string(255, ' ') + "CONFSOFTDOWNURL' . 'http://127.0.0.1/a' . '127.0.0.1';\r\n";
  EXPECT_EQ(ReplaceDownloadHostText(host + "$y = 'http://127.0.0.1/';\r\n", "10.1.2.3"),
            "$x = '" + std::string(255, ' ') + "CONFSOFTDOWNURL' . 'http://10.1.2.3/a' . '10.1.2.3';\r\n" +
                "$y = 'http://127.0.0.1/';\r\n");
}

TEST(ConfigText, ProfileValuesReplaceAddAndAppendKeepingOtherBytes) {
  const std::string text =
      "; IP=comment\r\n"
      "[Log In]\r\n"
      "PIP=1\r\n"
      "  ip = 9.9.9.9 \r\n"
      "User=x\r\n"
      "\r\n"
      "[Other]\r\n"
      "IP=keep\r\n";
  EXPECT_EQ(SetProfileValue(text, "log in", "IP", "1.2.3.4"),
            "; IP=comment\r\n[Log In]\r\nPIP=1\r\nIP=1.2.3.4\r\nUser=x\r\n\r\n[Other]\r\nIP=keep\r\n");
  EXPECT_EQ(SetProfileValue(text, "Log In", "Port", "80"),
            "; IP=comment\r\n[Log In]\r\nPIP=1\r\n  ip = 9.9.9.9 \r\nUser=x\r\nPort=80\r\n\r\n[Other]\r\nIP=keep\r\n");
  EXPECT_EQ(SetProfileValue(std::string("a=1"), "New", "k", "v"), "a=1\r\n[New]\r\nk=v\r\n");
  EXPECT_EQ(SetProfileValue(std::string("[S]\nx=1\n"), "S", "y", "2"), "[S]\nx=1\ny=2\n");
  EXPECT_EQ(SetProfileValue(std::string(""), "S", "k", "v"), "[S]\r\nk=v\r\n");
  EXPECT_EQ(SetProfileValue(std::u16string(u"\uFEFF[S]\r\nk=old\r\n"), u"S", u"k", u"新"),
            u"\uFEFF[S]\r\nk=新\r\n");
}

TEST(ConfigText, KeyValuesAreMatchedAtLineStartInOrder) {
  const std::u16string text =
      u"\uFEFF[Net]\r\nUdp Server IP=old-udp\r\nServer IP=old\r\nMeeting Server IP=old-m\r\nUdp Server IP=u2\r\n"
      u"Tail=1\r\n";
  const std::vector<std::u16string> keys = {u"Server IP=", u"Udp Server IP=", u"Meeting Server IP="};
  // "Udp Server IP=" after "Server IP=" is the second one; "Meeting" must follow it.
  EXPECT_FALSE(RewriteKeyValues(text, keys, u"1.2.3.4"));
  const std::u16string ordered =
      u"\uFEFFServer IP=a\r\nUdp Server IP=b\r\nMeeting Server IP=c\r\nRest\r\n";
  EXPECT_EQ(RewriteKeyValues(ordered, keys, u"10.0.0.1"),
            u"\uFEFFServer IP=10.0.0.1\r\nUdp Server IP=10.0.0.1\r\nMeeting Server IP=10.0.0.1\r\nRest\r\n");
  EXPECT_FALSE(RewriteKeyValues(u"Meeting Server IP=no carriage return", {u"Meeting Server IP="}, u"x"));
  EXPECT_EQ(Utf16ToBytes(*Utf16FromBytes(std::string("\xFF\xFEx\0", 4))), std::string("\xFF\xFEx\0", 4));
  EXPECT_FALSE(Utf16FromBytes("odd"));
}

TEST_F(ConfigFolder, PhpServerPackageGetsExactlyItsLines) {
  const fs::path web = root / "Web_Server";
  Write(web / "php" / "php.ini",
        "[PHP]\r\nshort_open_tag = On\r\ninclude_path = \".;\\xampplite\\php\\pear\\\"\r\n"
        "extension_dir = \"\\xampplite\\php\\ext\\\"\r\n\x1A\r\n[Session]\r\nsession.save_path = \"x\"\r\n");
  Write(web / "apache" / "conf" / "httpd.conf",
        "ServerRoot \"/xampplite/apache\"\nListen 80\nDocumentRoot \"/xampplite/htdocs\"\n");
  Write(web / "apache" / "conf" / "extra" / "httpd-xampp.conf", "Alias /x \"/xampplite\\x\\\"\r\n# \\a\r\n");
  Write(web / "htdocs" / "config" / "conf.inc.php",
        "<?php\ndefine('CONFSOFTDOWNURL', 'http://127.0.0.1/down');\ndefine('DB', '127.0.0.1');\n");
  Write(web / "htdocs" / "config" / "config.ini", "[connectparm]\r\nzepip=0.0.0.0\r\n");
  Write(root / "ConfServer" / "ConfSrv.ini",
        "[VoIP]\r\nSrvAddr_tcp=1:1\r\n[Local Server]\r\nIPAddr=x\r\nName=conf\r\n");
  Write(root / "H323transsrv" / "ExDevConfig.ini", "[gate_msg_1]\r\nIP=0.0.0.0\r\nPort=1720\r\n");
  Write(root / "Mysql" / "bin" / "my.ini", "[mysqld]\r\nbasedir=\"/xampplite/mysql/\"\r\nport=3306\r\n");
  Write(root / "untouched.ini", "[PHP]\r\ninclude_path=1\r\n");

  ConfigureServerFiles(Root() + u"\\", u"PHP", u"10.1.2.3", TestEnvironment());

  const std::string w = RootText() + "\\Web_Server";
  EXPECT_EQ(Read(web / "php" / "php.ini"),
            "[PHP]\r\nshort_open_tag = On\r\ninclude_path=\".;" + w + "\\pear\\\"\r\n"
            "extension_dir=\"" + w + "\\php\\ext\\\"\r\n\x1A\r\nupload_tmp_dir=\"" + w + "\\tmp\"\r\n"
            "[Session]\r\nsession.save_path=\"" + w + "\\tmp\"\r\n"
            "[soap]\r\nsoap.wsdl_cache_dir=\"" + w + "\\tmp\"\r\n"
            "[eAccelerator]\r\neaccelerator.cache_dir=\"" + w + "\\tmp\"\r\n"
            "[browscap]\r\nbrowscap=\"" + w + "\\php\\browscap\\browscap.ini\"\r\n"
            "[mime_magic]\r\nmime_magic.magicfile=\"" + w + "\\php\\extras\\magic.mime\"\r\n"
            "[Zend]\r\nzend_extension_ts=\"" + w +
            "\\php\\zendOptimizer\\lib\\Optimizer\\php-5.2.x\\ZendOptimizer.dll\"\r\n");
  const std::string ws = RootSlashes() + "/Web_Server";
  EXPECT_EQ(Read(web / "apache" / "conf" / "httpd.conf"),
            "ServerRoot \"" + ws + "/apache\"\nListen 80\nDocumentRoot \"" + ws + "/htdocs\"\n");
  EXPECT_EQ(Read(web / "apache" / "conf" / "extra" / "httpd-xampp.conf"),
            "Alias /x \"" + ws + "/x/\"\r\n# \\a\r\n");
  EXPECT_EQ(Read(web / "htdocs" / "config" / "conf.inc.php"),
            "<?php\ndefine('CONFSOFTDOWNURL', 'http://10.1.2.3/down');\ndefine('DB', '127.0.0.1');\n");
  EXPECT_EQ(Read(web / "htdocs" / "config" / "config.ini"),
            "[connectparm]\r\nzepip=10.1.2.3\r\nconfsrvip=10.1.2.3:1:2810:2810\r\n");
  EXPECT_EQ(Read(root / "ConfServer" / "ConfSrv.ini"),
            "[VoIP]\r\nSrvAddr_tcp=10.1.2.3:2850\r\nSrvAddr_udp=10.1.2.3:2850\r\n"
            "[Local Server]\r\nIPAddr=10.1.2.3:1\r\nName=conf\r\n"
            "[H323]\r\nSrvAddr_tcp=10.1.2.3:2850\r\nSrvAddr_udp=10.1.2.3:2850\r\n"
            "[Record]\r\nPath=" + w + "\\htdocs\\public\\upload\\server_upload\r\n"
            "[ZepCenterAuthSrv]\r\nSrvAddr1=10.1.2.3:3800\r\n[ZepCenter Server]\r\nSrvAddr1=10.1.2.3:3800\r\n");
  EXPECT_EQ(Read(root / "H323transsrv" / "ExDevConfig.ini"), "[gate_msg_1]\r\nIP=10.1.2.3\r\nPort=1720\r\n");
  EXPECT_EQ(Read(root / "Mysql" / "bin" / "my.ini"),
            "[mysqld]\r\nbasedir=\"" + RootSlashes() + "/mysql/\"\r\nport=3306\r\n");
  EXPECT_EQ(Read(root / "untouched.ini"), "[PHP]\r\ninclude_path=1\r\n");
  for (const auto& e : fs::recursive_directory_iterator(root))
    EXPECT_EQ(e.path().string().find(".~"), std::string::npos) << e.path().string();
}

TEST_F(ConfigFolder, JspPackageAndMissingFoldersAreSkipped) {
  const fs::path props =
      root / "Web_Server" / "webapps" / "confManage" / "WEB-INF" / "classes" / "com" / "quorin" / "data" /
      "ConfServer.properties";
  Write(props, "CONFSOFTDOWNURL=http://127.0.0.1:8080/\nOTHER=127.0.0.1\n");
  Write(root / "Web_Server" / "php" / "php.ini", "[PHP]\n");
  ConfigureServerFiles(Root(), u"JSP", u"192.168.0.9", TestEnvironment());
  EXPECT_EQ(Read(props), "CONFSOFTDOWNURL=http://192.168.0.9:8080/\nOTHER=127.0.0.1\n");
  EXPECT_EQ(Read(root / "Web_Server" / "php" / "php.ini"), "[PHP]\n");
  EXPECT_FALSE(SetGatewayIp(Root(), u"missing.ini", u"1.1.1.1", TestEnvironment()));
  EXPECT_FALSE(ReplaceDownloadHost(Root(), u"x", u"", TestEnvironment()));
  EXPECT_FALSE(fs::exists(root / "missing.ini"));
}

TEST_F(ConfigFolder, AnUnreadableFileIsToldOnlyByLineRewrites) {
  const fs::path ini = root / "locked.ini";
#ifdef _WIN32
  Write(ini, "[gate_msg_1]\r\nIP=old\r\n");
  // Held open without sharing: it exists but cannot be read.
  HANDLE held = CreateFileW(ini.wstring().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
#else
  fs::create_symlink("/proc/self/mem", ini);  // a regular file whose first byte cannot be read
#endif
  std::vector<std::u16string> told;
  ConfigEnvironment env = TestEnvironment();
  env.onUnreadable = [&](std::u16string_view path) { told.emplace_back(path); };
  EXPECT_FALSE(SetGatewayIp(Root(), u"locked.ini", u"10.0.0.1", env));
  EXPECT_FALSE(WriteClientLoginAddress(Root(), u"10.0.0.1", env));  // missing: not told either
  EXPECT_TRUE(told.empty());
  EXPECT_FALSE(ReplaceXamppRoot(Root(), u"locked.ini", env));
  EXPECT_EQ(told, std::vector<std::u16string>{Root() + u"\\locked.ini"});
#ifdef _WIN32
  CloseHandle(held);
  EXPECT_EQ(Read(ini), "[gate_msg_1]\r\nIP=old\r\n");
#endif
}

TEST_F(ConfigFolder, ClientServerAddressRewritesUtf16FilesButNeverBlanks) {
  const std::u16string qrvcos =
      u"\uFEFF[Setting]\r\nServer IP=old\r\nUdp Server IP=old\r\nMeeting Server IP=old\r\nName=视频\r\n";
  Write(root / "qrvcos.ini", Utf16ToBytes(qrvcos));
  Write(root / "sysvideo.ini", Utf16ToBytes(u"\uFEFFMeeting Server IP=1\r\n"));
  EXPECT_FALSE(RewriteClientServerAddress(Root(), u""));
  EXPECT_EQ(Read(root / "qrvcos.ini"), Utf16ToBytes(qrvcos));
  EXPECT_TRUE(RewriteClientServerAddress(Root(), u"10.9.8.7"));
  EXPECT_EQ(Read(root / "qrvcos.ini"),
            Utf16ToBytes(u"\uFEFF[Setting]\r\nServer IP=10.9.8.7\r\nUdp Server IP=10.9.8.7\r\n"
                         u"Meeting Server IP=10.9.8.7\r\nName=视频\r\n"));
  EXPECT_EQ(Read(root / "sysvideo.ini"), Utf16ToBytes(u"\uFEFFMeeting Server IP=10.9.8.7\r\n"));

  // A file without the keys stays as it was.
  Write(root / "qrvcos.ini", Utf16ToBytes(u"Server IP=x"));
  EXPECT_FALSE(RewriteClientServerAddress(Root(), u"1.1.1.1"));
  EXPECT_EQ(Read(root / "qrvcos.ini"), Utf16ToBytes(u"Server IP=x"));

  Write(root / "IniFolder" / "tempconfig.ini", "[Log In]\r\nIP=\r\nUser=u\r\n");
  EXPECT_FALSE(WriteClientLoginAddress(Root(), u"", TestEnvironment()));
  EXPECT_TRUE(WriteClientLoginAddress(Root(), u"10.0.0.5", TestEnvironment()));
  EXPECT_EQ(Read(root / "IniFolder" / "tempconfig.ini"), "[Log In]\r\nIP=10.0.0.5\r\nUser=u\r\n");
}

#ifndef _WIN32
TEST_F(ConfigFolder, FailedWriteLeavesTheOriginalIntact) {
  const std::string original = "[mysqld]\nbasedir=/xampplite/mysql\n";
  Write(root / "Mysql" / "bin" / "my.ini", original);
  fs::create_directories(root / "with a long enough root");
  // Files may not grow beyond 40 bytes: the new text cannot be written.
  rlimit old{};
  getrlimit(RLIMIT_FSIZE, &old);
  const auto previous = std::signal(SIGXFSZ, SIG_IGN);
  rlimit small = old;
  small.rlim_cur = 40;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  const bool done = ReplaceXamppRoot(Root() + u"\\with a long enough root", u"..\\Mysql\\bin\\my.ini",
                                     TestEnvironment());
  setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, previous);
  EXPECT_FALSE(done);
  EXPECT_EQ(Read(root / "Mysql" / "bin" / "my.ini"), original);
  size_t entries = 0;
  for (const auto& e : fs::directory_iterator(root / "Mysql" / "bin")) {
    (void)e;
    ++entries;
  }
  EXPECT_EQ(entries, 1u);  // no temporary file left behind
}
#endif
