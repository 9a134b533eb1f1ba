#include "romwright/cart/output_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/testing/program_run.h"
#include "romwright/cart/testing/cart_bench.h"

namespace romwright {
namespace {

using platform::testing::readWholeFile;
using platform::testing::TempDir;
using platform::testing::writeWholeFile;
using platform::testing::folderEntries;

const std::vector<std::uint8_t> kOld = {1, 2, 3};
const std::vector<std::uint8_t> kNew = {9, 8, 7, 6};

TEST(OutputFile, OnlyMissingNamesAndRegularFilesAreReplaced) {
  TempDir dir;
  writeWholeFile(dir.file("regular"), kOld);
  ASSERT_EQ(mkdir(dir.file("folder").c_str(), 0755), 0);
  ASSERT_EQ(mkfifo(dir.file("fifo").c_str(), 0600), 0);
  ASSERT_EQ(symlink("regular", dir.file("link").c_str()), 0);
  ASSERT_EQ(symlink("nowhere", dir.file("dangling").c_str()), 0);
  EXPECT_EQ(outputTargetOf(dir.file("missing").c_str()), OutputTarget::Replace);
  EXPECT_EQ(outputTargetOf(dir.file("regular").c_str()), OutputTarget::Replace);
  EXPECT_EQ(outputTargetOf(dir.file("folder").c_str()), OutputTarget::Direct);
  EXPECT_EQ(outputTargetOf(dir.file("fifo").c_str()), OutputTarget::Direct);
  EXPECT_EQ(outputTargetOf(dir.file("link").c_str()), OutputTarget::Replace);
  ASSERT_EQ(symlink("folder", dir.file("folder-link").c_str()), 0);
  EXPECT_EQ(outputTargetOf(dir.file("folder-link").c_str()), OutputTarget::Direct);
  EXPECT_EQ(outputTargetOf(dir.file("dangling").c_str()), OutputTarget::Direct);
  EXPECT_EQ(outputTargetOf("/dev/null"), OutputTarget::Direct);
  EXPECT_EQ(outputTargetOf("/dev/full"), OutputTarget::Direct);
}

TEST(OutputFile, TheTargetChangesOnlyWhenFinished) {
  TempDir dir;
  const std::string path = dir.file("save.srm");
  writeWholeFile(path, kOld);
  {
    OutputFile file;
    ASSERT_TRUE(createOutputFile(file, path.c_str()));
    ASSERT_TRUE(writeOutputFile(file, kNew.data(), kNew.size()));
    EXPECT_EQ(readWholeFile(path), kOld);
    EXPECT_EQ(folderEntries(dir.path).size(), 2u);  // the target and the temporary file
    // Left unfinished: the record's end removes the temporary file.
  }
  EXPECT_EQ(readWholeFile(path), kOld);
  EXPECT_EQ(folderEntries(dir.path), std::vector<std::string>{"save.srm"});

  OutputFile file;
  ASSERT_TRUE(createOutputFile(file, path.c_str()));
  ASSERT_TRUE(writeOutputFile(file, kNew.data(), kNew.size()));
  ASSERT_TRUE(finishOutputFile(file));
  EXPECT_EQ(readWholeFile(path), kNew);
  EXPECT_EQ(folderEntries(dir.path), std::vector<std::string>{"save.srm"});
}

// A link stands for the file behind it: that file is replaced only when the
// new one is complete, and the link stays a link.
TEST(OutputFile, TheFileBehindASymbolicLinkIsReplacedOnlyWhenFinished) {
  TempDir dir;
  ASSERT_EQ(mkdir(dir.file("saves").c_str(), 0755), 0);
  writeWholeFile(dir.file("saves/target"), kOld);
  ASSERT_EQ(symlink("saves/target", dir.file("link").c_str()), 0);
  {
    OutputFile abandoned;
    ASSERT_TRUE(createOutputFile(abandoned, dir.file("link").c_str()));
    ASSERT_TRUE(writeOutputFile(abandoned, kNew.data(), kNew.size()));
    // The temporary file sits beside the file it will replace.
    EXPECT_EQ(folderEntries(dir.file("saves")).size(), 2u);
  }
  EXPECT_EQ(readWholeFile(dir.file("saves/target")), kOld);
  EXPECT_EQ(folderEntries(dir.file("saves")), std::vector<std::string>{"target"});

  OutputFile file;
  ASSERT_TRUE(createOutputFile(file, dir.file("link").c_str()));
  ASSERT_TRUE(writeOutputFile(file, kNew.data(), kNew.size()));
  ASSERT_TRUE(finishOutputFile(file));
  struct stat info {};
  ASSERT_EQ(lstat(dir.file("link").c_str(), &info), 0);
  EXPECT_TRUE(S_ISLNK(info.st_mode));
  EXPECT_EQ(readWholeFile(dir.file("saves/target")), kNew);
  EXPECT_EQ(folderEntries(dir.path), (std::vector<std::string>{"link", "saves"}));
  EXPECT_EQ(folderEntries(dir.file("saves")), std::vector<std::string>{"target"});
}

TEST(OutputFile, ANameTakenByAFifoDuringTheDumpIsNotReplaced) {
  TempDir dir;
  const std::string path = dir.file("game.bin");
  OutputFile file;
  ASSERT_TRUE(createOutputFile(file, path.c_str()));
  ASSERT_TRUE(writeOutputFile(file, kNew.data(), kNew.size()));
  ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
  EXPECT_FALSE(finishOutputFile(file));
  struct stat info {};
  ASSERT_EQ(lstat(path.c_str(), &info), 0);
  EXPECT_TRUE(S_ISFIFO(info.st_mode));
  EXPECT_EQ(folderEntries(dir.path), std::vector<std::string>{"game.bin"});
}

TEST(OutputFile, ANameInAFolderThatDoesNotExistCannotBeCreated) {
  TempDir dir;
  OutputFile file;
  EXPECT_FALSE(createOutputFile(file, dir.file("missing/save.srm").c_str()));
  EXPECT_FALSE(createOutputFile(file, ""));
  EXPECT_TRUE(folderEntries(dir.path).empty());
}

}  // namespace
}  // namespace romwright
