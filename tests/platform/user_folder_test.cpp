#include "platform/file/user_folder.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "tests/common/scratch_folder.h"

namespace {

mode_t LinkMode(const std::filesystem::path& path) {
  struct stat info {};
  EXPECT_EQ(::lstat(path.c_str(), &info), 0);
  return info.st_mode & 07777;
}

// Points the temporary folder at a scratch folder for one test.
class PrivateTempFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const char* old = ::getenv("TMPDIR")) oldTmpdir_ = old;
    ::setenv("TMPDIR", scratch_.path().c_str(), 1);
  }
  void TearDown() override {
    if (oldTmpdir_) {
      ::setenv("TMPDIR", oldTmpdir_->c_str(), 1);
    } else {
      ::unsetenv("TMPDIR");
    }
  }

  std::filesystem::path Expected() const {
    return scratch_ / ("vistaroplayer-" + std::to_string(::geteuid()));
  }

  ScratchFolder scratch_;
  std::optional<std::string> oldTmpdir_;
};

TEST_F(PrivateTempFolderTest, CreatedOnlyForUs) {
  const mode_t previous = ::umask(0277);  // would make a folder we cannot write to
  std::string error;
  const auto folder = PrivateTempFolder(&error);
  ::umask(previous);

  ASSERT_TRUE(folder) << error;
  EXPECT_EQ(*folder, Expected());
  EXPECT_TRUE(std::filesystem::is_directory(*folder));
  EXPECT_EQ(LinkMode(*folder), 0700u);

  // The second call finds it and is content.
  const auto again = PrivateTempFolder(&error);
  ASSERT_TRUE(again) << error;
  EXPECT_EQ(*again, *folder);
}

TEST_F(PrivateTempFolderTest, WiderPermissionsAreTightened) {
  std::filesystem::create_directory(Expected());
  ::chmod(Expected().c_str(), 0777);
  std::string error;
  ASSERT_TRUE(PrivateTempFolder(&error)) << error;
  EXPECT_EQ(LinkMode(Expected()), 0700u);
}

TEST_F(PrivateTempFolderTest, PlantedSymbolicLinkIsRefused) {
  const auto elsewhere = scratch_ / "elsewhere";
  std::filesystem::create_directory(elsewhere);
  ::chmod(elsewhere.c_str(), 0755);
  std::filesystem::create_directory_symlink(elsewhere, Expected());

  std::string error;
  EXPECT_FALSE(PrivateTempFolder(&error));
  EXPECT_NE(error.find("symbolic link"), std::string::npos) << error;
  EXPECT_EQ(LinkMode(elsewhere), 0755u);
  EXPECT_TRUE(std::filesystem::is_symlink(Expected()));
}

TEST_F(PrivateTempFolderTest, FileInTheWayIsRefused) {
  std::ofstream(Expected()) << "x";
  std::string error;
  EXPECT_FALSE(PrivateTempFolder(&error));
  EXPECT_NE(error.find("not a directory"), std::string::npos) << error;
}

TEST_F(PrivateTempFolderTest, SomeoneElsesFolderIsRefused) {
  if (::geteuid() != 0) GTEST_SKIP() << "only root can make a folder for another user";
  std::filesystem::create_directory(Expected());
  ::chmod(Expected().c_str(), 0777);
  ASSERT_EQ(::chown(Expected().c_str(), 12345, 12345), 0);

  std::string error;
  EXPECT_FALSE(PrivateTempFolder(&error));
  EXPECT_NE(error.find("another user"), std::string::npos) << error;
  EXPECT_EQ(LinkMode(Expected()), 0777u);
}

}  // namespace
