// mkpackage: makes setup packages and inspects them (usage in command_line.cpp).
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "tools/mkpackage/command_line.h"
#include "base/memory_budget.h"
#include "tools/mkpackage/package_builder.h"
#include "tools/mkpackage/package_extractor.h"
#include "tools/mkpackage/package_inspector.h"
#include "tools/mkpackage/shortcut_checks.h"

namespace {

int UsageError(const std::string& what) {
  std::fprintf(stderr, "mkpackage: %s\n%s", what.c_str(), mkpackage::kUsage);
  return 2;
}

int Build(int argc, char** argv) {
  mkpackage::BuildOptions o;
  for (int i = 2; i < argc; ++i) {
    const std::string a = argv[i];
    std::string* into = a == "--manifest" ? &o.manifestPath
                        : a == "--files"  ? &o.filesDir
                        : a == "--stub"   ? &o.stubPath
                        : a == "-o"       ? &o.outputPath
                        : a == "--online" ? &o.onlineServers
                        : a == "--product-code" ? &o.onlineProductCode
                        : a == "--caption-fallback" ? &o.captionFallback
                                          : nullptr;
    if (a == "--update") {
      o.update = true;
    } else if (a == "--address-servers") {
      if (i + 1 >= argc) return UsageError(a + " needs a value");
      o.onlineServers = argv[++i];
      o.addressServers = true;
    } else if (a == "--memory") {
      if (i + 1 >= argc) return UsageError(a + " needs a value");
      const std::string v = argv[++i];
      if (!vx::ParseMemorySize(v, o.memory))
        return UsageError(a + " \"" + v + "\": expected a size such as 512M or 2G (at least 16M)");
    } else if (a == "--threads" || a == "--level") {
      if (i + 1 >= argc) return UsageError(a + " needs a value");
      const std::string v = argv[++i];
      const auto n = a == "--threads" ? mkpackage::ParseBounded(v, 1, 64)
                                      : mkpackage::ParseBounded(v, 0, 9);
      if (!n) return UsageError(a + " \"" + v + "\": expected " + (a == "--threads" ? "1-64" : "0-9"));
      (a == "--threads" ? o.threads : o.level) = *n;
    } else if (into) {
      if (i + 1 >= argc) return UsageError(a + " needs a value");
      *into = argv[++i];
    } else {
      return UsageError("unknown option \"" + a + "\"");
    }
  }
  if (o.manifestPath.empty() || (o.filesDir.empty() && o.onlineServers.empty()) || o.stubPath.empty() ||
      o.outputPath.empty())
    return UsageError("build needs --manifest, --files (or --online or --address-servers), --stub and -o");
  if (!o.captionFallback.empty() && !mkpackage::FindCaptionLanguage(o.captionFallback))
    return UsageError("--caption-fallback \"" + o.captionFallback + "\": expected Gb, Big5, En or Jp");
  o.progress = [](const std::string& line) { std::fprintf(stderr, "%s\n", line.c_str()); };
  o.notice = o.progress;
  mkpackage::BuildSummary s;
  std::string error;
  if (!mkpackage::BuildPackage(o, s, error)) {
    std::fprintf(stderr, "mkpackage: %s\n", error.c_str());
    return 1;
  }
  std::printf("built %s: %u files (%u stored), %llu bytes -> %llu bytes, header offset %u\n",
              o.outputPath.c_str(), s.files, s.stored, static_cast<unsigned long long>(s.totalSize),
              static_cast<unsigned long long>(s.packageSize), s.headerOffset);
  std::fprintf(stderr, "packing: at most %u encoders at once, counted for %llu MiB of the %llu MiB budget\n",
               s.mostEncodersAtOnce, static_cast<unsigned long long>(s.encoderMemory >> 20),
               static_cast<unsigned long long>(s.memoryBudget >> 20));
  return 0;
}

int Extract(int argc, char** argv) {
  bool list = false;
  std::vector<std::string> operands;
  for (int i = 2; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--list")
      list = true;
    else if (a.size() > 1 && a[0] == '-')
      return UsageError("unknown option \"" + a + "\"");
    else
      operands.push_back(a);
  }
  if (operands.size() != (list ? 1u : 2u))
    return UsageError(list ? "extract --list takes one package" : "extract takes a package and a folder");
  if (list) {
    mkpackage::PackageInfo info;
    std::string error;
    if (!mkpackage::ReadPackage(operands[0], info, error)) {
      std::fprintf(stderr, "mkpackage: %s: %s\n", operands[0].c_str(), error.c_str());
      return 1;
    }
    const bool ok = mkpackage::ListPayload(info, std::cout, error);
    std::cout.flush();
    if (!ok) std::fprintf(stderr, "mkpackage: %s: %s\n", operands[0].c_str(), error.c_str());
    return ok ? 0 : 1;
  }
  mkpackage::ExtractOptions o;
  o.packagePath = operands[0];
  o.dir = operands[1];
  o.progress = [](const std::string& line) { std::fprintf(stderr, "%s\n", line.c_str()); };
  mkpackage::ExtractSummary s;
  std::string error;
  const bool ok = mkpackage::ExtractPackage(o, s, error);
  if (!ok) std::fprintf(stderr, "mkpackage: %s: %s\n", o.packagePath.c_str(), error.c_str());
  std::printf("%s %s into %s: %u files, %llu bytes, %u folders created\n", ok ? "extracted" : "stopped extracting",
              o.packagePath.c_str(), o.dir.c_str(), s.files, static_cast<unsigned long long>(s.bytes),
              s.foldersCreated);
  return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return UsageError("no command");
  const std::string command = argv[1];
  if (command == "--help" || command == "-h") {
    std::fputs(mkpackage::kUsage, stdout);
    return 0;
  }
  if (command == "--version") {
    std::fputs(mkpackage::kVersion, stdout);
    return 0;
  }
  if (command == "build" || command == "extract")
    for (int i = 2; i < argc; ++i)
      if (std::string(argv[i]) == "--help") {
        std::fputs(mkpackage::kUsage, stdout);
        return 0;
      }
  if (command == "build") return Build(argc, argv);
  if (command == "extract") return Extract(argc, argv);
  if (command != "info" && command != "verify") return UsageError("unknown command \"" + command + "\"");
  if (argc != 3) return UsageError(command + " takes one package");
  mkpackage::PackageInfo info;
  std::string error;
  if (!mkpackage::ReadPackage(argv[2], info, error)) {
    std::fprintf(stderr, "mkpackage: %s: %s\n", argv[2], error.c_str());
    return 1;
  }
  if (command == "info") {
    mkpackage::PrintInfo(info, std::cout);
    return 0;
  }
  if (!mkpackage::VerifyPackage(argv[2], info, std::cout, error)) {
    std::fprintf(stderr, "mkpackage: %s: first bad entry: %s\n", argv[2], error.c_str());
    return 1;
  }
  std::printf("all %zu streams decode\n", info.payload.entries.size());
  return 0;
}
