#pragma once
// Packages built by the e2e tests: the sample manifest with integer fields
// changed, around the setup program next to the test.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "base/fs_path.h"
#include "tests/support/bin_dir.h"
#include "tools/mkpackage/package_builder.h"

namespace e2e {

using testing_support::BinDir;

// Writes `work`\manifest.json and builds `work`\package.exe from `files`;
// `groupList` false drops the program-group shortcuts; `edits` are further
// (regular expression, replacement) pairs applied to the manifest text;
// `update` writes the update-package marker.
inline std::filesystem::path BuildSampleVariant(
    const std::filesystem::path& work, const std::filesystem::path& files, const std::map<std::string, int>& fields,
    bool groupList = true, const std::vector<std::pair<std::string, std::string>>& edits = {}, bool update = false) {
  std::ifstream in(std::filesystem::path(VC_SOURCE_DIR) / "tools/sample/manifest.json");
  std::string manifest((std::istreambuf_iterator<char>(in)), {});
  for (const auto& [name, value] : fields)
    manifest = std::regex_replace(manifest, std::regex("\"" + name + "\": *[0-9]+"),
                                  "\"" + name + "\": " + std::to_string(value));
  if (!groupList)
    manifest = std::regex_replace(manifest, std::regex("\"ProgramGroupShortcuts\": *\\[[^\\]]*\\]"),
                                  "\"ProgramGroupShortcuts\": []");
  for (const auto& [pattern, replacement] : edits) manifest = std::regex_replace(manifest, std::regex(pattern), replacement);
  std::ofstream(work / "manifest.json") << manifest;
  mkpackage::BuildOptions o;
  o.manifestPath = vx::PathToUtf8(work / "manifest.json");
  o.filesDir = vx::PathToUtf8(files);
  o.stubPath = vx::PathToUtf8(BinDir() / "setup.exe");
  o.outputPath = vx::PathToUtf8(work / "package.exe");
  o.update = update;
  mkpackage::BuildSummary summary;
  std::string error;
  EXPECT_TRUE(mkpackage::BuildPackage(o, summary, error)) << error;
  return work / "package.exe";
}

}  // namespace e2e
