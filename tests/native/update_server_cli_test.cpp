// The update-server command line: help and version on standard output with
// exit code 0, usage errors on standard error with exit code 2.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "tests/support/temp_folder.h"

namespace fs = std::filesystem;

namespace {

struct CliRun {
  int code = -1;
  std::string out, err;
};

std::string Slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

CliRun UpdateServer(const std::string& args) {
  const fs::path dir = testing_support::TempFolder("update-server-cli");
  fs::create_directories(dir);
  const std::string command = std::string("'") + VC_UPDATE_SERVER + "' " + args + " >'" +
                              (dir / "out").string() + "' 2>'" + (dir / "err").string() + "' </dev/null";
  const int status = std::system(command.c_str());
  CliRun r;
  r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  r.out = Slurp(dir / "out");
  r.err = Slurp(dir / "err");
  fs::remove_all(dir);
  return r;
}

}  // namespace

TEST(UpdateServerCommandLine, HelpAndVersionGoToStandardOutput) {
  for (const char* help : {"--help", "-h"}) {
    const CliRun r = UpdateServer(help);
    EXPECT_EQ(r.code, 0) << help;
    EXPECT_NE(r.out.find("usage: update-server publish"), std::string::npos) << help;
    EXPECT_NE(r.out.find("update-server serve"), std::string::npos) << help;
    EXPECT_TRUE(r.err.empty()) << r.err;
  }
  const CliRun v = UpdateServer("--version");
  EXPECT_EQ(v.code, 0);
  EXPECT_EQ(v.out.rfind("update-server ", 0), 0u) << v.out;
  EXPECT_GT(v.out.size(), std::string("update-server \n").size());
  EXPECT_TRUE(v.err.empty());
}

TEST(UpdateServerCommandLine, UsageErrorsGoToStandardErrorWithCode2) {
  for (const char* args : {"", "frobnicate", "serve", "publish --files", "publish --version v1 --build x -o /tmp/x",
                           "serve /tmp --port 70000", "--help extra", "publish --files /tmp --version v1 --build 1 "
                           "-o /tmp/x --threads 0", "publish --files /tmp --version v1 --build 1 -o /tmp/x --memory 1M",
                           "new-key", "serve /tmp --trusted-balancers 10.0.0.300", "serve /tmp --trusted-balancers "
                           "10.0.0.1,", "serve /tmp --trusted-balancers ''", "address-server --servers 127.0.0.1:1 "
                           "--probe-every 99"}) {
    const CliRun r = UpdateServer(args);
    EXPECT_EQ(r.code, 2) << args;
    EXPECT_TRUE(r.out.empty()) << args << ": " << r.out;
    EXPECT_FALSE(r.err.empty()) << args;
  }
}

TEST(UpdateServerCommandLine, KeyFilesAreTheOwnersOnly) {
  const fs::path dir = testing_support::TempFolder("update-server-key");
  fs::remove_all(dir);
  fs::create_directories(dir);
  const std::string key = (dir / "shared.key").string();
  EXPECT_EQ(UpdateServer("new-key '" + key + "'").code, 0);
  EXPECT_EQ(fs::status(key).permissions(), fs::perms::owner_read | fs::perms::owner_write);
  const CliRun again = UpdateServer("new-key '" + key + "'");  // never overwritten
  EXPECT_EQ(again.code, 1);
  EXPECT_NE(again.err.find("cannot create the key file"), std::string::npos) << again.err;
  fs::permissions(key, fs::perms::group_read, fs::perm_options::add);
  const CliRun open = UpdateServer("serve '" + dir.string() + "' --port 0 --transfer-port 0 --key-file '" + key + "'");
  EXPECT_EQ(open.code, 1);
  EXPECT_NE(open.err.find("may be read by others than its owner"), std::string::npos) << open.err;
  fs::remove_all(dir);
}
