// The benchmark corpus from installed HTML documentation.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "Corpus.h"

namespace fs = std::filesystem;

namespace {

bool IsHtml(const fs::path& path) {
  std::string ext = path.extension().string();
  return ext == ".html" || ext == ".htm";
}

// The HTML files below root by package folder, each list in name order.
std::map<std::string, std::vector<std::string>> HtmlByPackage(const std::string& root) {
  std::map<std::string, std::vector<std::string>> files;
  std::error_code error;
  fs::recursive_directory_iterator it(root, fs::directory_options::skip_permission_denied, error);
  for (; !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
    if (!it->is_regular_file(error) || !IsHtml(it->path())) continue;
    fs::path relative = it->path().lexically_relative(root);
    files[relative.begin()->string()].push_back(it->path().string());
  }
  for (auto& entry : files) std::sort(entry.second.begin(), entry.second.end());
  return files;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  std::string page = text.str();
  // A NUL would end the line early for the engines that take C strings.
  std::replace(page.begin(), page.end(), '\0', ' ');
  return page;
}

}  // namespace

Corpus Corpus::FromDocs(const std::string& root, size_t bytes,
                        std::vector<std::pair<std::string, size_t>>* used) {
  Corpus c;
  std::map<std::string, std::vector<std::string>> files = HtmlByPackage(root);
  std::map<std::string, size_t> next;   // the next file of each package
  std::map<std::string, size_t> taken;  // bytes taken from each package
  bool more = true;
  while (c.bytes_ < bytes && more) {
    more = false;
    for (auto& entry : files) {
      size_t& i = next[entry.first];
      if (i == entry.second.size() || c.bytes_ >= bytes) continue;
      size_t before = c.bytes_;
      c.AddPage(ReadFile(entry.second[i++]));
      taken[entry.first] += c.bytes_ - before;
      more = true;
    }
  }
  used->assign(taken.begin(), taken.end());
  return c;
}
