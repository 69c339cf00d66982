// mkpackage: makes setup packages and inspects them.
//   mkpackage build --manifest product.json --files DIR --stub setup.exe -o package.exe [--update] [--threads N]
//   mkpackage build --manifest product.json --online ADDRESS:PORT --stub setup.exe -o package.exe
//   mkpackage info package.exe
//   mkpackage verify package.exe
#include <cstring>
#include <iostream>
#include <string>

#include "tools/mkpackage/package_builder.h"
#include "tools/mkpackage/package_inspector.h"

namespace {

int Usage() {
  std::cerr << "usage:\n"
               "  mkpackage build --manifest FILE --files DIR --stub setup.exe -o OUT [--update] [--threads N]\n"
               "  mkpackage build --manifest FILE --online ADDRESS:PORT[,...] [--product-code N] --stub setup.exe -o OUT\n"
               "  mkpackage info PACKAGE\n"
               "  mkpackage verify PACKAGE\n";
  return 2;
}

int Build(int argc, char** argv) {
  mkpackage::BuildOptions o;
  for (int i = 2; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&](std::string& into) {
      if (i + 1 >= argc) return false;
      into = argv[++i];
      return true;
    };
    std::string threads;
    if (a == "--manifest" ? !value(o.manifestPath)
        : a == "--files"  ? !value(o.filesDir)
        : a == "--stub"   ? !value(o.stubPath)
        : a == "-o"       ? !value(o.outputPath)
        : a == "--threads" ? !value(threads)
        : a == "--online" ? !value(o.onlineServers)
        : a == "--product-code" ? !value(o.onlineProductCode)
        : a == "--update" ? (o.update = true, false)
                          : true)
      return Usage();
    if (!threads.empty()) o.threads = static_cast<unsigned>(std::stoul(threads));
  }
  if (o.manifestPath.empty() || o.stubPath.empty() || o.outputPath.empty())
    return Usage();
  o.progress = [](const std::string& line) { std::cerr << line << std::endl; };
  mkpackage::BuildSummary s;
  std::string error;
  if (!mkpackage::BuildPackage(o, s, error)) {
    std::cerr << "mkpackage: " << error << "\n";
    return 1;
  }
  std::cout << "built " << o.outputPath << ": " << s.files << " files (" << s.stored << " stored), "
            << s.totalSize << " bytes -> " << s.packageSize << " bytes, header offset "
            << s.headerOffset << "\n";
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage();
  const std::string command = argv[1];
  if (command == "build") return Build(argc, argv);
  if ((command == "info" || command == "verify") && argc == 3) {
    mkpackage::PackageInfo info;
    std::string error;
    if (!mkpackage::ReadPackage(argv[2], info, error)) {
      std::cerr << "mkpackage: " << argv[2] << ": " << error << "\n";
      return 1;
    }
    if (command == "info") {
      mkpackage::PrintInfo(info, std::cout);
      return 0;
    }
    if (!mkpackage::VerifyPackage(argv[2], info, std::cout, error)) {
      std::cerr << "mkpackage: " << argv[2] << ": first bad entry: " << error << "\n";
      return 1;
    }
    std::cout << "all " << info.payload.entries.size() << " streams decode\n";
    return 0;
  }
  return Usage();
}
