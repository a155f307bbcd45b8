#include "tests/common/Files.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "tests/common/Subprocess.h"

namespace {

void ListTree(const std::string& dir, const std::string& prefix,
              std::map<std::string, std::string>* tree) {
  DIR* d = opendir(dir.c_str());
  if (d == nullptr) return;
  while (dirent* entry = readdir(d)) {
    std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    std::string path = dir + "/" + name, key = prefix + name;
    struct stat info;
    if (lstat(path.c_str(), &info) != 0) continue;
    if (S_ISLNK(info.st_mode)) {
      char target[4096];
      ssize_t n = readlink(path.c_str(), target, sizeof target);
      (*tree)[key] = "link -> " + std::string(target, n > 0 ? static_cast<size_t>(n) : 0);
    } else if (S_ISDIR(info.st_mode)) {
      (*tree)[key] = "dir";
      ListTree(path, key + "/", tree);
    } else {
      (*tree)[key] = std::string((info.st_mode & S_IXUSR) ? "file x " : "file ") + ReadFile(path);
    }
  }
  closedir(d);
}

}  // namespace

TempDir::TempDir(const std::string& prefix) {
  std::string pattern = "/tmp/" + prefix + "-XXXXXX";
  if (mkdtemp(&pattern[0]) != nullptr) path = pattern;
}

TempDir::~TempDir() {
  if (!path.empty()) RunProcess({"/bin/rm", "-rf", path});
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream content;
  content << in.rdbuf();
  return content.str();
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::map<std::string, std::string> DirectoryTree(const std::string& dir) {
  std::map<std::string, std::string> tree;
  ListTree(dir, "", &tree);
  return tree;
}
