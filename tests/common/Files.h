// Small file helpers for tests: a temporary directory that removes itself,
// whole-file reads and line splitting.
#ifndef FERRET_TESTS_COMMON_FILES_H_
#define FERRET_TESTS_COMMON_FILES_H_

#include <map>
#include <string>
#include <vector>

// A fresh directory under /tmp, removed with everything in it on destruction.
class TempDir {
 public:
  explicit TempDir(const std::string& prefix = "ferret-test");
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  // Empty when the directory could not be made.
  const std::string& Path() const { return path; }

 private:
  std::string path;
};

// The file's bytes; empty when it cannot be read.
std::string ReadFile(const std::string& path);

// Every entry below dir by relative path ("sub/name"): "dir",
// "link -> target", or "file " (or "file x " when executable) followed by
// the bytes. Symbolic links are listed, never followed.
std::map<std::string, std::string> DirectoryTree(const std::string& dir);

// text split at LF, without the LFs.
std::vector<std::string> Lines(const std::string& text);

#endif  // FERRET_TESTS_COMMON_FILES_H_
