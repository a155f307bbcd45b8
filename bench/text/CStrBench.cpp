// CStr against std::string doing the same work: copying a string, appending
// one character at a time, and building a URL the way the URL code does.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "text/CStr.h"

namespace {

const char kHost[] = "www.example.com";
const int kPort = 8080;
const char kDir[] = "docs/reference/text";
const char kFile[] = "index.html";

// A text of n characters; 8 fits std::string's inline buffer, 64 does not.
std::string Sample(int64_t n) { return std::string(static_cast<size_t>(n), 'u'); }

void BM_CopyCStr(benchmark::State& state) {
  const CStr source(Sample(state.range(0)).c_str());
  for (auto _ : state) {
    CStr copy(source);
    benchmark::DoNotOptimize(copy);
  }
}
BENCHMARK(BM_CopyCStr)->Arg(8)->Arg(64);
// Each thread copies a string of its own, as parallel fetches will: what is
// measured is the cost of the count and the lock once the process has
// threads, not contention on one shared count.
BENCHMARK(BM_CopyCStr)->Arg(64)->Threads(2);

void BM_CopyStdString(benchmark::State& state) {
  const std::string source = Sample(state.range(0));
  for (auto _ : state) {
    std::string copy(source);
    benchmark::DoNotOptimize(copy);
  }
}
BENCHMARK(BM_CopyStdString)->Arg(8)->Arg(64);

void BM_AppendCharCStr(benchmark::State& state) {
  const int64_t n = state.range(0);
  for (auto _ : state) {
    CStr s;
    for (int64_t i = 0; i < n; ++i) s += 'x';
    benchmark::DoNotOptimize(s);
  }
  state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_AppendCharCStr)->Arg(1000);

void BM_AppendCharStdString(benchmark::State& state) {
  const int64_t n = state.range(0);
  for (auto _ : state) {
    std::string s;
    for (int64_t i = 0; i < n; ++i) s += 'x';
    benchmark::DoNotOptimize(s);
  }
  state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_AppendCharStdString)->Arg(1000);

// A fresh string per URL, as the URL code builds it in a local.
void BM_FormatUrlCStr(benchmark::State& state) {
  for (auto _ : state) {
    CStr url;
    url.Format("%s:%d/%s%s%s", kHost, kPort, kDir, "/", kFile);
    benchmark::DoNotOptimize(url);
  }
}
BENCHMARK(BM_FormatUrlCStr);

// snprintf twice: once to measure, once into the sized std::string.
void BM_FormatUrlStdSnprintf(benchmark::State& state) {
  for (auto _ : state) {
    const char* format = "%s:%d/%s%s%s";
    int n = std::snprintf(nullptr, 0, format, kHost, kPort, kDir, "/", kFile);
    std::string url(static_cast<size_t>(n), '\0');
    std::snprintf(&url[0], url.size() + 1, format, kHost, kPort, kDir, "/", kFile);
    benchmark::DoNotOptimize(url);
  }
}
BENCHMARK(BM_FormatUrlStdSnprintf);

void BM_FormatUrlStdConcat(benchmark::State& state) {
  for (auto _ : state) {
    std::string url = std::string(kHost) + ":" + std::to_string(kPort) + "/" + kDir + "/" + kFile;
    benchmark::DoNotOptimize(url);
  }
}
BENCHMARK(BM_FormatUrlStdConcat);

// One string reused: Format keeps its buffer, as does clear() + append.
void BM_FormatUrlCStrReused(benchmark::State& state) {
  CStr url;
  for (auto _ : state) {
    url.Format("%s:%d/%s%s%s", kHost, kPort, kDir, "/", kFile);
    benchmark::DoNotOptimize(url);
  }
}
BENCHMARK(BM_FormatUrlCStrReused);

void BM_FormatUrlStdConcatReused(benchmark::State& state) {
  std::string url;
  for (auto _ : state) {
    url.clear();
    url.append(kHost).append(":").append(std::to_string(kPort)).append("/");
    url.append(kDir).append("/").append(kFile);
    benchmark::DoNotOptimize(url);
  }
}
BENCHMARK(BM_FormatUrlStdConcatReused);

}  // namespace
