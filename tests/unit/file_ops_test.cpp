#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "base/binary_file.h"
#include "base/file_ops.h"
#include "base/fs_path.h"
#include "tests/support/temp_folder.h"

namespace fs = std::filesystem;

namespace {

struct Folder {
  Folder() {
    root = testing_support::TempFolder("file_ops_test") / fs::path(vx::PathFromUtf8("\xE6\x96\x87\xE4\xBB\xB6 folder"));
    fs::remove_all(root);
    fs::create_directories(root);
  }
  ~Folder() {
    std::error_code ec;
    fs::remove_all(root, ec);
  }
  fs::path operator/(const char* name) const { return root / fs::path(vx::PathFromUtf8(name)); }
  fs::path root;
};

}  // namespace

TEST(BinaryFile, WritesReadsAndRewritesInPlace) {
  Folder f;
  const fs::path p = f / "data.bin";
  EXPECT_FALSE(vx::ReadWholeFile(p));
  ASSERT_TRUE(vx::WriteWholeFile(p, std::string("abc\x1A\0def", 8)));
  EXPECT_EQ(vx::ReadWholeFile(p), std::string("abc\x1A\0def", 8));  // binary: no 0x1A end, NULs kept
  {
    vx::BinaryFile file(p, vx::BinaryFile::Mode::ReadWrite);
    ASSERT_TRUE(file.IsOpen());
    EXPECT_EQ(file.Size(), 8);
    ASSERT_TRUE(file.Seek(10));  // past the end: the gap reads as zeros
    ASSERT_TRUE(file.Write("XY", 2));
    ASSERT_TRUE(file.Seek(1));
    char two[2];
    EXPECT_EQ(file.Read(two, 2), 2u);
    EXPECT_EQ(std::string(two, 2), "bc");
    EXPECT_TRUE(file.Close());
  }
  EXPECT_EQ(vx::ReadWholeFile(p), std::string("abc\x1A\0def\0\0XY", 12));
  vx::BinaryFile missing(f / "none.bin", vx::BinaryFile::Mode::ReadWrite);
  EXPECT_FALSE(missing.IsOpen());
  EXPECT_FALSE(missing.Write("x", 1));
  EXPECT_FALSE(missing.Close());
  // A folder is not a file to read or create.
  EXPECT_FALSE(vx::ReadWholeFile(f.root));
  EXPECT_FALSE(vx::WriteWholeFile(f.root, "x"));
}

TEST(FileOps, AnswerAndChangeTheFileSystem) {
  Folder f;
  const fs::path deep = f / "a";
  const fs::path deeper = deep / fs::path(vx::PathFromUtf8("b")) / fs::path(vx::PathFromUtf8("c"));
  EXPECT_FALSE(vx::PathExists(deep));
  ASSERT_TRUE(vx::CreateFolders(deeper));
  EXPECT_TRUE(vx::CreateFolders(deeper));  // already there
  EXPECT_TRUE(vx::IsFolder(deeper));
  EXPECT_FALSE(vx::IsFile(deeper));
  EXPECT_EQ(vx::FileSize(deeper), -1);

  const fs::path file = deeper / fs::path(vx::PathFromUtf8("f.txt"));
  ASSERT_TRUE(vx::WriteWholeFile(file, "12345"));
  EXPECT_TRUE(vx::IsFile(file));
  EXPECT_EQ(vx::FileSize(file), 5);
  EXPECT_FALSE(vx::CreateFolders(file / fs::path(vx::PathFromUtf8("x"))));  // a file in the way
  ASSERT_TRUE(vx::ResizeFile(file, 2));
  EXPECT_EQ(vx::ReadWholeFile(file), "12");

  const fs::path other = f / "other.txt";
  ASSERT_TRUE(vx::WriteWholeFile(other, "old"));
  ASSERT_TRUE(vx::CopyFileReplacing(file, other));
  EXPECT_EQ(vx::ReadWholeFile(other), "12");
  ASSERT_TRUE(vx::WriteWholeFile(other, "older"));
  ASSERT_TRUE(vx::RenameReplacing(file, other));
  EXPECT_FALSE(vx::PathExists(file));
  EXPECT_EQ(vx::ReadWholeFile(other), "12");
  EXPECT_FALSE(vx::RenameReplacing(file, other));  // nothing to move
  EXPECT_FALSE(vx::ResizeFile(file, 1));

  EXPECT_FALSE(vx::RemovePath(deep));  // a folder that is not empty stays
  EXPECT_TRUE(vx::IsFolder(deeper));
  EXPECT_TRUE(vx::RemovePath(deeper));
  EXPECT_FALSE(vx::PathExists(deeper));
  EXPECT_TRUE(vx::RemovePath(deeper));  // already gone
  EXPECT_TRUE(vx::RemovePath(other));
  EXPECT_EQ(vx::FileSize(other), -1);
}

TEST(FsPath, Utf8RoundTrip) {
  const std::string text = "C:\\Program Files\\\xE8\xA7\x86\xE9\xA2\x91 \xF0\x9F\x8E\xA5\\a.txt";
  EXPECT_EQ(vx::PathToUtf8(fs::path(vx::PathFromUtf8(text))), text);
}

TEST(FilePath, ParentNameAndJoinAgreeWithTheLibrary) {
  // The cases the code meets, each checked against std::filesystem on this system.
#ifdef _WIN32
  const char* cases[] = {"C:\\a\\b.txt", "C:\\a\\", "C:\\a", "C:\\", "C:", "a\\b", "a", "\\a\\b", "a/b/c.part!",
                         "C:\\a\\\\b", "\\\\server\\share\\f.txt", "\\\\server\\share\\"};
#else
  const char* cases[] = {"/a/b.txt", "/a/", "/a", "/", "a/b", "a", "a//b", "/a/b/c.part!", ""};
#endif
  for (const char* c : cases) {
    const vx::FilePath ours = vx::PathFromUtf8(c);
    const fs::path theirs(ours.native());
    EXPECT_EQ(ours.parent_path().native(), theirs.parent_path().native()) << c;
    EXPECT_EQ(ours.filename().native(), theirs.filename().native()) << c;
    EXPECT_EQ(ours.has_parent_path(), theirs.has_parent_path()) << c;
    for (const char* name : {"x", "y\\z", "y/z"}) {
      const vx::FilePath joined = ours / vx::PathFromUtf8(name);
      EXPECT_EQ(joined.native(), (theirs / fs::path(vx::PathFromUtf8(name).native())).native()) << c << " / " << name;
    }
  }
  // An absolute name replaces the path, as the library does.
#ifdef _WIN32
  EXPECT_EQ((vx::PathFromUtf8("C:\\a") / vx::PathFromUtf8("D:\\b")).native(), L"D:\\b");
#else
  EXPECT_EQ((vx::PathFromUtf8("/a") / vx::PathFromUtf8("/b")).native(), "/b");
#endif
  vx::FilePath part = vx::PathFromUtf8("f.txt");
  part += vx::PathFromUtf8(".part!").native();
  EXPECT_EQ(vx::PathToUtf8(part), "f.txt.part!");
  EXPECT_TRUE(vx::FilePath().empty());
}
