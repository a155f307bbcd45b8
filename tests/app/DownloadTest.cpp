#include <gtest/gtest.h>

#include <memory>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "app/Download.h"
#include "app/Request.h"
#include "tests/common/Files.h"
#include "tests/support/HttpResponse.h"
#include "tests/support/ScriptedServer.h"
#include "tests/support/ScriptedTransport.h"
#include "tests/app/TestCrawl.h"
#include "tests/support/ParsedUrl.h"

namespace {

// The crawl the tests of this file drive; ResetCrawl starts a fresh one.
std::unique_ptr<TestCrawl> crawl = std::make_unique<TestCrawl>();
void ResetCrawl() { crawl = std::make_unique<TestCrawl>(); }

bool Exists(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0;
}

// Runs each test in a fresh temporary directory, the current one while it
// lasts.
class DownloadTest : public testing::Test {
 protected:
  void SetUp() override {
    ResetCrawl();
    ASSERT_FALSE(scratch.Path().empty());
    ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
    ASSERT_EQ(chdir(scratch.Path().c_str()), 0);
  }
  void TearDown() override { ASSERT_EQ(chdir(previous), 0); }
  // Downloads and returns standard output.
  std::string Download(const std::string& url) {
    testing::internal::CaptureStdout();
    DownloadUrl(crawl->context, ParsedUrl(url.c_str()));
    return testing::internal::GetCapturedStdout();
  }
  std::string Bare(const std::string& path) { return server.HostPort() + path; }

  ScriptedServer server;
  TempDir scratch{"ferret-download"};
  char previous[4096];
};

TEST_F(DownloadTest, BodiesSavedByteForByte) {
  const size_t sizes[] = {0, 1, 1022, 1023, 1024, 3000};
  std::string pattern("a\r\nb\n\r\0c", 8);
  int n = 0;
  for (size_t size : sizes) {
    std::string body;
    while (body.size() < size) body += pattern;
    body.resize(size);
    std::string name = "f" + std::to_string(size) + ".bin";
    server.SetResponse("/d/" + name, FileResponse(body, "application/octet-stream"));
    std::string out = Download(server.Url("/d/" + name));
    EXPECT_EQ(out, "Saving " + server.Url("/d/" + name) + " as " + name + "\n");
    EXPECT_EQ(ReadFile(name), body) << size;
    EXPECT_EQ(crawl->Counts().saves, ++n) << size;
  }
  EXPECT_EQ(crawl->Counts().errors, 0);
}

TEST_F(DownloadTest, FileNamesAndRedirects) {
  server.SetResponse("/docs/", HtmlResponse("<p>index</p>\n"));
  server.SetResponse("/moved", RedirectResponse("/target/t.txt"));
  server.SetResponse("/target/t.txt", FileResponse("t", "text/plain"));
  server.SetResponse("/err.html", NotFoundResponse());

  EXPECT_EQ(Download(server.Url("/docs/")), "Saving " + server.Url("/docs/") + " as index.html\n");
  EXPECT_EQ(ReadFile("index.html"), "<p>index</p>\n");

  EXPECT_EQ(Download(server.Url("/moved")), "Saving " + Bare("/target/t.txt") + " as t.txt\n");
  EXPECT_EQ(ReadFile("t.txt"), "t");

  // An error page is reported, not saved.
  EXPECT_EQ(Download(server.Url("/err.html")), "HTTP 404 at " + server.Url("/err.html") + "\n");
  EXPECT_FALSE(Exists("err.html"));
  EXPECT_EQ(crawl->Counts().saves, 2);
  EXPECT_EQ(crawl->Counts().errors, 1);
}

TEST_F(DownloadTest, CreateKeepsPathsInsideTheCurrentDirectory) {
  const struct {
    const char* path;
    const char* saved;
  } cases[] = {
      {"/one/a.txt", "one/a.txt"},
      {"/x/y/z/b.txt", "x/y/z/b.txt"},  // missing parents made too
      {"/../../up/c.txt", "up/c.txt"},
      {"//abs/d.txt", "abs/d.txt"},
      {"/a/./b//c/e.txt", "a/b/c/e.txt"},
      {"/../f.txt", "f.txt"},
      {"/g/", "g/index.html"},
      {"/h.txt", "h.txt"},
  };
  crawl->options.create = 1;
  int n = 0;
  for (const auto& c : cases) {
    std::string body = std::string("saved from ") + c.path;
    server.SetDefaultResponse(FileResponse(body, "text/plain"));
    std::string out = Download(server.Url(c.path));
    EXPECT_EQ(out, "Saving " + server.Url(c.path) + " as " + c.saved + "\n") << c.path;
    EXPECT_EQ(ReadFile(c.saved), body) << c.path;
    EXPECT_EQ(crawl->Counts().saves, ++n) << c.path;
  }
  EXPECT_FALSE(Exists("../up")) << "a save escaped the current directory";
}

TEST_F(DownloadTest, UnwritableFileIsAnErrorNotASave) {
  server.SetDefaultResponse(FileResponse("body", "text/plain"));
  // A regular file where a directory is needed: no one, not even root, can
  // create a file below it.
  { std::ofstream blocker("blocker"); }
  crawl->options.create = 1;
  std::string out = Download(server.Url("/blocker/f.txt"));
  EXPECT_EQ(out, "Cannot save blocker/f.txt: Not a directory\n");
  EXPECT_EQ(crawl->Counts().saves, 0);
  EXPECT_EQ(crawl->Counts().errors, 1);

  crawl->options.create = 0;
  std::string dotdot = Download(server.Url("/x/.."));
  EXPECT_EQ(dotdot, "Cannot save ..: Is a directory\n");
  EXPECT_EQ(crawl->Counts().saves, 0);
  EXPECT_EQ(crawl->Counts().errors, 2);
}

TEST(DownloadFailures, RequestFailedSavesNothing) {
  ResetCrawl();
  RefusedPort refused;
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  std::string url = "127.0.0.1:" + std::to_string(refused.Port()) + "/f";
  int result = DownloadUrl(crawl->context, ParsedUrl(url));
  std::string out = testing::internal::GetCapturedStdout();
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(result, -1);
  EXPECT_EQ(out, "Cannot connect to 127.0.0.1 port " + std::to_string(refused.Port()) + " for " +
                     url + ": Connection refused\n");
  EXPECT_EQ(crawl->Counts().saves, 0);
  EXPECT_EQ(crawl->Counts().errors, 1);
}

TEST(ConfinedDirectory, DropsEscapingSegments) {
  const struct {
    const char* dir;
    const char* safe;
  } cases[] = {
      {"", ""},    {"a", "a"},        {"a/b", "a/b"},
      {"/a", "a"}, {"../../x", "x"},  {"a/./b//c", "a/b/c"},
      {"..", ""},  {"a/../b", "a/b"}, {"...", "..."},
      {"//", ""},  {"a/b/", "a/b"},   {".hidden/x", ".hidden/x"},
  };
  for (const auto& c : cases) {
    EXPECT_STREQ(ConfinedDirectory(c.dir), c.safe) << c.dir;
  }
}

}  // namespace

namespace {

// "Saving <url> as <path>" is printed once the file is whole and in place,
// and only then. A body that fails before its end, or a file that cannot be
// written, is its error line alone and leaves no partial file under the
// final name; an earlier complete copy stays as it was.
TEST_F(DownloadTest, SavingIsPrintedOnlyForASaveThatSucceeded) {
  const struct {
    const char* path;  // of http://site.test, saved with -create
    const char* header;
    int failure;  // errno once "abc" is delivered; 0: end of stream
    const char* out;
    const char* file;  // afterwards
    const char* holds;
  } cases[] = {
      {"/f.bin", "HTTP/1.0 200 OK\r\nContent-Length: 3\r\n\r\n", 0,
       "Saving http://site.test/f.bin as f.bin\n", "f.bin", "abc"},
      {"/f.bin", "HTTP/1.0 200 OK\r\nContent-Length: 10\r\n\r\n", 0,
       "Transfer cut short at 3 of 10 bytes: http://site.test/f.bin\n", "f.bin", "older"},
      {"/f.bin", "HTTP/1.0 200 OK\r\n\r\n", ECONNRESET,
       "Error 104 reading http://site.test/f.bin\n", "f.bin", "older"},
      {"/f.bin", "HTTP/1.0 200 OK\r\n\r\n", EAGAIN, "Timed out reading http://site.test/f.bin\n",
       "f.bin", "older"},
      // A directory that cannot be made: a file stands in its place.
      {"/blocker/f.bin", "HTTP/1.0 200 OK\r\nContent-Length: 3\r\n\r\n", 0,
       "Cannot save blocker/f.bin: Not a directory\n", "blocker", "in the way"},
      {"/link.bin", "HTTP/1.0 200 OK\r\nContent-Length: 3\r\n\r\n", 0,
       "Cannot save link.bin: the file is a symbolic link\n", "f.bin", "older"},
  };
  for (const auto& c : cases) {
    ResetCrawl();
    crawl->options.create = 1;
    { std::ofstream("f.bin") << "older"; }
    { std::ofstream("blocker") << "in the way"; }
    unlink("link.bin");
    ASSERT_EQ(symlink("f.bin", "link.bin"), 0);
    crawl->context.connector = [&c](SocketStreamBuf& connection, const ::Url&, Failure*) {
      auto transport = std::make_unique<ScriptedTransport>(std::make_shared<TransportLog>());
      transport->Deliver(c.header).Deliver("abc").FailAfter(c.failure);
      connection.UseTransport(std::move(transport));
      return true;
    };
    std::string out = Download(std::string("http://site.test") + c.path);
    crawl->context.connector = ConnectTo;
    bool saved = std::string(c.out).compare(0, 7, "Saving ") == 0;
    EXPECT_EQ(out, c.out);
    EXPECT_EQ(ReadFile(c.file), c.holds) << c.out;
    EXPECT_EQ(crawl->Counts().saves, saved ? 1 : 0) << c.out;
    EXPECT_EQ(crawl->Counts().errors, saved ? 0 : 1) << c.out;
    EXPECT_EQ(system("ls -a | grep -q ferret-"), 256) << "a temporary file was left: " << c.out;
  }
  // A complete body replaces the older copy.
  server.SetResponse("/f.bin", FileResponse("0123456789", "application/octet-stream"));
  EXPECT_EQ(Download(server.Url("/f.bin")), "Saving " + server.Url("/f.bin") + " as f.bin\n");
  EXPECT_EQ(ReadFile("f.bin"), "0123456789");
}

}  // namespace
