// SaveFile on its own, in a scratch directory: what Open refuses and why,
// what a commit leaves, and what a save that never commits leaves. Each case
// compares the whole tree, dot files included, before and after.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <string>
#include <vector>

#include "app/SaveFile.h"
#include "tests/common/Files.h"

namespace {

using Tree = std::map<std::string, std::string>;

// The tree's entry for path; empty when there is none.
std::string Entry(const Tree& tree, const std::string& path) {
  auto found = tree.find(path);
  return found != tree.end() ? found->second : "";
}

void Put(const std::string& path, const std::string& bytes) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(fd, 0) << path;
  ASSERT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size())) << path;
  close(fd);
}

// Each test runs in root/work, the current directory while it lasts, with
// root/outside beside it as the place no link may lead a save to.
class SaveFileTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(root.Path().empty());
    ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
    for (const std::string& dir : {work, outside}) ASSERT_EQ(mkdir(dir.c_str(), 0755), 0);
    ASSERT_EQ(chdir(work.c_str()), 0);
    for (const char* dir : {"real", "sub", "taken", ".git"}) ASSERT_EQ(mkdir(dir, 0755), 0);
    Put("kept", "older");
    Put(".git/config", "[core]\n");
    Put(outside + "/victim", "victim");
    const char* links[][2] = {
        {"../outside", "linkdir"},
        {"../../outside", "real/inner"},
        {"../outside/newdir", "danglingdir"},
        {"../outside/victim", "linkfile"},
        {"../outside/new", "dangling"},
    };
    for (const auto& link : links) ASSERT_EQ(symlink(link[0], link[1]), 0) << link[1];
  }
  void TearDown() override { ASSERT_EQ(chdir(previous), 0); }

  TempDir root{"ferret-savefile"};
  const std::string work = root.Path() + "/work";
  const std::string outside = root.Path() + "/outside";
  char previous[4096];
};

TEST_F(SaveFileTest, OpenRefusesLinksDotNamesAndDirectoriesAndCommitPutsTheBytesInPlace) {
  const char* throughLink = "the path passes through a symbolic link";
  const char* isLink = "the file is a symbolic link";
  const char* dot = "names beginning with '.' are not written";
  const struct {
    const char* path;
    const char* reason;             // Failure() after a refused Open; null when saved
    std::vector<std::string> made;  // directory levels a save makes
  } cases[] = {
      {"kept", nullptr, {}},  // the earlier copy replaced
      {"sub/new.bin", nullptr, {}},
      {"real/a/b/c.bin", nullptr, {"real/a", "real/a/b"}},
      {"fresh/d.bin", nullptr, {"fresh"}},
      {"linkdir/x.bin", throughLink, {}},
      {"real/inner/victim", throughLink, {}},
      {"danglingdir/x.bin", throughLink, {}},
      {"linkfile", isLink, {}},
      {"dangling", isLink, {}},
      {".git/config", dot, {}},
      {".profile", dot, {}},
      {"sub/.ssh/authorized_keys", dot, {}},
      {"fresh2/.cache/x.bin", dot, {}},  // fresh2 is not made either
      {"fresh3/deep/.x", dot, {}},
      {"real/...", dot, {}},
      {"taken", "Is a directory", {}},
  };
  const std::string bytes("new\r\n\0bytes", 11);
  for (const auto& c : cases) {
    Tree before = DirectoryTree(work), outsideBefore = DirectoryTree(outside);
    bool committed = false;
    {
      SaveFile save;
      bool opened = save.Open(c.path);
      EXPECT_EQ(opened, c.reason == nullptr) << c.path;
      if (opened) {
        EXPECT_TRUE(save.Write(bytes.data(), 5)) << c.path;
        EXPECT_TRUE(save.Write(bytes.data() + 5, bytes.size() - 5)) << c.path;
        committed = save.Commit();
        EXPECT_TRUE(committed) << c.path << ": " << static_cast<const char*>(save.Failure());
      } else {
        EXPECT_STREQ(save.Failure(), c.reason) << c.path;
      }
    }
    Tree expected = before;
    for (const std::string& dir : c.made) expected[dir] = "dir";
    if (committed) expected[c.path] = "file " + bytes;
    EXPECT_EQ(DirectoryTree(work), expected) << c.path;
    EXPECT_EQ(DirectoryTree(outside), outsideBefore) << c.path;
  }
}

TEST_F(SaveFileTest, SavesThatNeverCommitLeaveNothingAndKeepTheEarlierCopy) {
  enum class End { Destroy, TargetBecomesDirectory };
  const struct {
    const char* name;
    const char* path;
    End end;
  } cases[] = {
      {"destroyed, no earlier copy", "sub/part.bin", End::Destroy},
      {"destroyed, earlier copy", "kept", End::Destroy},
      {"rename refused", "late", End::TargetBecomesDirectory},
  };
  for (const auto& c : cases) {
    Tree before = DirectoryTree(work);
    {
      SaveFile save;
      ASSERT_TRUE(save.Open(c.path)) << c.name << ": " << static_cast<const char*>(save.Failure());
      ASSERT_TRUE(save.Write("partial", 7)) << c.name;
      // Nothing under the final name changes before Commit.
      EXPECT_EQ(Entry(DirectoryTree(work), c.path), Entry(before, c.path)) << c.name;
      if (c.end == End::TargetBecomesDirectory) {
        ASSERT_EQ(mkdir(c.path, 0755), 0) << c.name;
        Put(std::string(c.path) + "/inside", "x");
        before[c.path] = "dir";
        before[std::string(c.path) + "/inside"] = "file x";
        EXPECT_FALSE(save.Commit()) << c.name;
        EXPECT_STREQ(save.Failure(), "Is a directory") << c.name;
      }
    }
    EXPECT_EQ(DirectoryTree(work), before) << c.name;
  }
  EXPECT_EQ(ReadFile("kept"), "older");
}

}  // namespace
