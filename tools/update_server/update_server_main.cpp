// update-server: publishes product folders for online installs.
//   update-server publish --files DIR --version V --build N -o PUBLISHED
#include <cstdio>
#include <cstdlib>
#include <string>

#include "base/fs_path.h"
#include "tools/update_server/publisher.h"

namespace {

int Usage() {
  std::fprintf(stderr, "usage: update-server publish --files DIR --version V --build N -o PUBLISHED\n");
  return 2;
}

int RunPublish(int argc, char** argv) {
  update_server::PublishOptions options;
  bool haveFiles = false, haveOutput = false, haveBuild = false;
  for (int i = 2; i < argc; ++i) {
    const std::string arg = argv[i];
    if (i + 1 >= argc) return Usage();
    const char* value = argv[++i];
    if (arg == "--files") {
      options.files = vx::PathFromUtf8(value), haveFiles = true;
    } else if (arg == "--version") {
      options.version = value;
    } else if (arg == "--build") {
      char* end = nullptr;
      const long n = std::strtol(value, &end, 10);
      if (!*value || *end || n < 0 || n > 0x7FFFFFFF) {
        std::fprintf(stderr, "update-server: --build takes a number from 0 to 2147483647\n");
        return 2;
      }
      options.build = int32_t(n), haveBuild = true;
    } else if (arg == "-o") {
      options.output = vx::PathFromUtf8(value), haveOutput = true;
    } else {
      return Usage();
    }
  }
  if (!haveFiles || !haveOutput || !haveBuild || options.version.empty()) return Usage();
  update_server::PublishSummary summary;
  std::string error;
  if (!update_server::Publish(options, summary, error)) {
    std::fprintf(stderr, "update-server: %s\n", error.c_str());
    return 1;
  }
  std::printf("published %s build %d: %zu files, %zu folders, %llu bytes -> %llu bytes in %s\n",
              options.version.c_str(), options.build, summary.files, summary.directories,
              static_cast<unsigned long long>(summary.bytes), static_cast<unsigned long long>(summary.publishedBytes),
              vx::PathToUtf8(options.output).c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && std::string(argv[1]) == "publish") return RunPublish(argc, argv);
  return Usage();
}
