// HtmlTokenizer throughput, in MB/s (bytes_per_second), over the HTML found
// on the machine: the documentation below /usr/share/doc and the Rust
// documentation of every toolchain under ~/.rustup, if present. Pages are fed
// in reads of the size given as the benchmark's argument, to a sink that only
// counts, so what is timed is the tokenizer.
//
// Usage: text_html_bench [--corpus-mb=N] [--root=DIR]... [Google Benchmark flags]
// --corpus-mb caps the corpus (64 by default): past it, every k-th file (in
// name order) is taken, so that each tree contributes. --root replaces the
// trees searched (e.g. --root=/usr/share/doc, the regex benchmark's corpus).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "text/HtmlTokenizer.h"

namespace fs = std::filesystem;

namespace {

struct HtmlFile {
  std::string path;
  uintmax_t size;
};

std::vector<std::string> DefaultRoots() {
  std::vector<std::string> roots = {"/usr/share/doc"};
  const char* home = std::getenv("HOME");
  std::error_code error;
  fs::path toolchains = fs::path(home != nullptr ? home : "/root") / ".rustup/toolchains";
  for (fs::directory_iterator it(toolchains, error), end; !error && it != end; it.increment(error)) {
    fs::path docs = it->path() / "share/doc/rust/html";
    if (fs::is_directory(docs, error)) roots.push_back(docs.string());
  }
  return roots;
}

std::vector<HtmlFile> FindHtml(const std::vector<std::string>& roots) {
  std::vector<HtmlFile> files;
  for (const std::string& root : roots) {
    std::error_code error;
    fs::recursive_directory_iterator it(root, fs::directory_options::skip_permission_denied,
                                        error);
    for (; !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
      std::string ext = it->path().extension().string();
      if ((ext == ".html" || ext == ".htm") && it->is_regular_file(error)) {
        files.push_back({it->path().string(), it->file_size(error)});
      }
    }
  }
  std::sort(files.begin(), files.end(),
            [](const HtmlFile& a, const HtmlFile& b) { return a.path < b.path; });
  return files;
}

struct Corpus {
  std::vector<std::string> pages;
  size_t bytes = 0;
};

Corpus& TheCorpus() {
  static Corpus corpus;
  return corpus;
}

void LoadCorpus(size_t budget, std::vector<std::string> roots) {
  if (roots.empty()) roots = DefaultRoots();
  std::vector<HtmlFile> files = FindHtml(roots);
  uintmax_t total = 0;
  for (const HtmlFile& file : files) total += file.size;
  size_t stride = std::max<uintmax_t>(1, (total + budget - 1) / std::max<size_t>(budget, 1));
  Corpus& corpus = TheCorpus();
  for (size_t i = 0; i < files.size() && corpus.bytes < budget; i += stride) {
    std::ifstream in(files[i].path, std::ios::binary);
    std::string page((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    corpus.bytes += page.size();
    corpus.pages.push_back(std::move(page));
  }
  std::printf("corpus: %zu pages, %.1f MB, one file in %zu of %zu below", corpus.pages.size(),
              corpus.bytes / 1e6, stride, files.size());
  for (const std::string& root : roots) std::printf(" %s", root.c_str());
  std::printf("\n");
}

class CountingSink : public HtmlTokenSink {
 public:
  void OnToken(const HtmlToken& token) override {
    ++tokens;
    attributes += token.attributes.size();
  }
  size_t tokens = 0;
  size_t attributes = 0;
};

void BM_HtmlTokenizer(benchmark::State& state) {
  const Corpus& corpus = TheCorpus();
  if (corpus.bytes == 0) {
    state.SkipWithError("no HTML found");
    return;
  }
  const size_t readSize = static_cast<size_t>(state.range(0));
  CountingSink sink;
  HtmlTokenizer tokenizer(&sink);
  for (auto _ : state) {
    for (const std::string& page : corpus.pages) {
      for (size_t at = 0; at < page.size(); at += readSize) {
        tokenizer.Feed(page.data() + at, std::min(readSize, page.size() - at));
      }
      tokenizer.Finish();
    }
  }
  benchmark::DoNotOptimize(sink.tokens);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * corpus.bytes));
  state.counters["tokens/page"] =
      static_cast<double>(sink.tokens) / (state.iterations() * corpus.pages.size());
}
BENCHMARK(BM_HtmlTokenizer)->Arg(512)->Arg(16384)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  size_t megabytes = 64;
  std::vector<std::string> roots;
  std::vector<char*> rest;
  for (int i = 0; i < argc; ++i) {
    if (std::strncmp(argv[i], "--corpus-mb=", 12) == 0) {
      megabytes = std::strtoul(argv[i] + 12, nullptr, 10);
    } else if (std::strncmp(argv[i], "--root=", 7) == 0) {
      roots.push_back(argv[i] + 7);
    } else {
      rest.push_back(argv[i]);
    }
  }
  int count = static_cast<int>(rest.size());
  benchmark::Initialize(&count, rest.data());
  if (benchmark::ReportUnrecognizedArguments(count, rest.data())) return 2;
  LoadCorpus(megabytes << 20, roots);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
