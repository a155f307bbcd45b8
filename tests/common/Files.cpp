#include "tests/common/Files.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "tests/common/Subprocess.h"

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
