#include "platform/file/atomic_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <string>
#include <thread>

#include "tests/common/scratch_folder.h"

namespace {

class UmaskScope {
 public:
  explicit UmaskScope(mode_t mask) : previous_(::umask(mask)) {}
  UmaskScope(const UmaskScope&) = delete;
  UmaskScope& operator=(const UmaskScope&) = delete;
  ~UmaskScope() { ::umask(previous_); }

 private:
  mode_t previous_;
};

mode_t ModeOf(const std::filesystem::path& path) {
  struct stat info {};
  EXPECT_EQ(::stat(path.c_str(), &info), 0);
  return info.st_mode & 07777;
}

TEST(ReplaceFileContents, CreatesAndReplacesWithoutLeftovers) {
  ScratchFolder folder;
  const auto target = folder / "planeTrack.kml";
  std::string error;

  ASSERT_TRUE(ReplaceFileContents(target, std::string(100000, 'a'), &error)) << error;
  EXPECT_EQ(ReadFile(target), std::string(100000, 'a'));
  ASSERT_TRUE(ReplaceFileContents(target, "short", &error)) << error;
  EXPECT_EQ(ReadFile(target), "short");
  ASSERT_TRUE(ReplaceFileContents(target, "", &error)) << error;
  EXPECT_EQ(ReadFile(target), "");
  EXPECT_TRUE(std::filesystem::exists(target));

  const std::string big(8 << 20, '\x7f');
  ASSERT_TRUE(ReplaceFileContents(target, big, &error)) << error;
  EXPECT_EQ(ReadFile(target), big);

  EXPECT_EQ(folder.Names(), std::set<std::string>{"planeTrack.kml"});
}

TEST(ReplaceFileContents, ModeFollowsTheUmask) {
  ScratchFolder folder;
  {
    UmaskScope mask(022);
    ASSERT_TRUE(ReplaceFileContents(folder / "shared.kml", "x"));
  }
  {
    UmaskScope mask(077);
    ASSERT_TRUE(ReplaceFileContents(folder / "private.kml", "x"));
  }
  EXPECT_EQ(ModeOf(folder / "shared.kml"), 0644u);
  EXPECT_EQ(ModeOf(folder / "private.kml"), 0600u);
}

TEST(ReplaceFileContents, FailuresLeaveNothingBehind) {
  ScratchFolder folder;
  std::string error;

  EXPECT_FALSE(ReplaceFileContents(folder / "missing" / "a.kml", "x", &error));
  EXPECT_FALSE(error.empty());

  // A regular file where the folder should be.
  ASSERT_TRUE(ReplaceFileContents(folder / "file", "x"));
  error.clear();
  EXPECT_FALSE(ReplaceFileContents(folder / "file" / "a.kml", "x", &error));
  EXPECT_FALSE(error.empty());

  // The temporary file is written but cannot be renamed over a directory.
  std::filesystem::create_directories(folder / "dir" / "inside");
  error.clear();
  EXPECT_FALSE(ReplaceFileContents(folder / "dir", "x", &error));
  EXPECT_FALSE(error.empty());
  EXPECT_TRUE(std::filesystem::is_directory(folder / "dir" / "inside"));

  EXPECT_EQ(folder.Names(), (std::set<std::string>{"dir", "file"}));
  EXPECT_EQ(ReadFile(folder / "file"), "x");
}

TEST(ReplaceFileContents, UnwritableFolderFailsCleanly) {
  if (::geteuid() == 0) GTEST_SKIP() << "permissions do not bind root";
  ScratchFolder folder;
  ASSERT_TRUE(ReplaceFileContents(folder / "old.kml", "old"));
  std::filesystem::permissions(
      folder.path(), std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
  std::string error;
  EXPECT_FALSE(ReplaceFileContents(folder / "old.kml", "new", &error));
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(folder.Names(), std::set<std::string>{"old.kml"});
  EXPECT_EQ(ReadFile(folder / "old.kml"), "old");
}

// A link is written through: the file it names is replaced in its own
// folder and the link stays. Devices and pipes are written where they are,
// never replaced, and their failures name the file and the reason.
TEST(ReplaceFileContents, LinksAreFollowedAndDevicesWrittenInPlace) {
  ScratchFolder folder;
  std::filesystem::create_directory(folder / "real");
  ASSERT_TRUE(ReplaceFileContents(folder / "real" / "track.kml", "old"));
  std::filesystem::create_symlink("real/track.kml", folder / "link.kml");
  std::filesystem::create_symlink("link.kml", folder / "chain.kml");
  std::filesystem::create_symlink("real/new.kml", folder / "dangling.kml");

  std::string error;
  ASSERT_TRUE(ReplaceFileContents(folder / "chain.kml", "new", &error)) << error;
  ASSERT_TRUE(ReplaceFileContents(folder / "dangling.kml", "created", &error)) << error;
  EXPECT_TRUE(std::filesystem::is_symlink(folder / "chain.kml"));
  EXPECT_TRUE(std::filesystem::is_symlink(folder / "dangling.kml"));
  EXPECT_EQ(ReadFile(folder / "real" / "track.kml"), "new");
  EXPECT_EQ(ReadFile(folder / "real" / "new.kml"), "created");
  EXPECT_EQ(folder.Names(),
            (std::set<std::string>{"chain.kml", "dangling.kml", "link.kml", "real"}));

  // Through a link, so that a build without the mend replaces the link
  // rather than the system's device.
  std::filesystem::create_symlink("/dev/null", folder / "null.kml");
  ASSERT_TRUE(ReplaceFileContents(folder / "null.kml", "x", &error)) << error;
  EXPECT_TRUE(std::filesystem::is_symlink(folder / "null.kml"));
  EXPECT_TRUE(std::filesystem::is_character_file("/dev/null"));
  std::filesystem::create_symlink("/dev/full", folder / "full.kml");
  EXPECT_FALSE(ReplaceFileContents(folder / "full.kml", "x", &error));
  EXPECT_EQ(errno, ENOSPC);
  EXPECT_NE(error.find("full.kml: No space left on device"), std::string::npos) << error;

  // A pipe nobody reads fails at once instead of waiting for a reader.
  ASSERT_EQ(::mkfifo((folder / "pipe").c_str(), 0600), 0);
  EXPECT_FALSE(ReplaceFileContents(folder / "pipe", "x", &error));
  EXPECT_NE(error.find("pipe"), std::string::npos) << error;
  EXPECT_TRUE(std::filesystem::is_fifo(folder / "pipe"));
  std::filesystem::create_symlink("link.kml", folder / "loop1");
  std::filesystem::remove(folder / "link.kml");
  std::filesystem::create_symlink("loop1", folder / "link.kml");
  EXPECT_FALSE(ReplaceFileContents(folder / "chain.kml", "x", &error));
  EXPECT_EQ(ReadFile(folder / "real" / "track.kml"), "new");
}

// Google Earth rereads the file while we rewrite it; every read must be one
// whole document.
TEST(ReplaceFileContents, ReaderNeverSeesAPartialDocument) {
  ScratchFolder folder;
  const auto target = folder / "planePos.kml";
  const std::string first(256 << 10, 'a');
  const std::string second(300 << 10, 'b');
  ASSERT_TRUE(ReplaceFileContents(target, first));

  std::atomic<bool> done{false};
  std::atomic<int> torn{0};
  std::thread reader([&] {
    while (!done) {
      const std::string seen = ReadFile(target);
      if (seen != first && seen != second) ++torn;
    }
  });
  for (int i = 0; i < 300; ++i) {
    ASSERT_TRUE(ReplaceFileContents(target, i % 2 ? first : second));
  }
  done = true;
  reader.join();
  EXPECT_EQ(torn, 0);
  EXPECT_EQ(folder.Names(), std::set<std::string>{"planePos.kml"});
}

}  // namespace
