// -warc end to end: the built ferret binary against a scripted loopback
// site, its archive read by two readers that share no code with it: the
// tests' own checker (warc_check.py: every record's fields, lengths and
// digests) and npm's warcio, whose CDXJ index of the file must equal the one
// ferret wrote beside it.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "tests/common/Files.h"
#include "tests/common/Subprocess.h"
#include "tests/support/Compressed.h"
#include "tests/support/HttpResponse.h"
#include "tests/support/ScriptedServer.h"

namespace {

bool FileExists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

using Args = std::vector<std::string>;

std::string Sha1Hex(const std::string& data) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_Digest(data.data(), data.size(), digest, &length, EVP_sha1(), nullptr);
  static const char kHex[] = "0123456789abcdef";
  std::string hex;
  for (unsigned i = 0; i < length; ++i) {
    hex += kHex[digest[i] >> 4];
    hex += kHex[digest[i] & 15];
  }
  return hex;
}

// The value of name in one of the checker's JSON lines (strings unquoted).
std::string Member(const std::string& line, const std::string& name) {
  size_t at = line.find("\"" + name + "\": ");
  if (at == std::string::npos) return "";
  at += name.size() + 4;
  if (line[at] != '"') return line.substr(at, line.find_first_of(",}", at) - at);
  return line.substr(at + 1, line.find('"', at + 1) - at - 1);
}

struct Record {
  std::string type, uri, status, payload;
};

// The records of the archive at path as the checker reads them; a failure
// when it finds the file bad.
std::vector<Record> Checked(const std::string& path) {
  ProcessResult r =
      RunProcess({"/usr/bin/env", "python3", FERRET_SOURCE_DIR "/tests/e2e/warc_check.py", path});
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  std::vector<Record> records;
  for (const std::string& line : Lines(r.out)) {
    records.push_back({Member(line, "type"), Member(line, "uri"), Member(line, "status"),
                       Member(line, "payload")});
  }
  return records;
}

std::vector<std::string> SortedLines(const std::string& text) {
  std::vector<std::string> lines = Lines(text);
  std::sort(lines.begin(), lines.end());
  return lines;
}

// warcio's CDXJ index of the archive at path equals the one ferret wrote.
void ExpectIndexAsWarcioMakesIt(const std::string& path) {
  ProcessResult r = RunProcess({FERRET_WARCIO, "cdx-index", path});
  ASSERT_EQ(r.exitCode, 0) << "warcio: " << r.err << " (scripts/packages test installs it)";
  EXPECT_EQ(SortedLines(ReadFile(path + ".cdxj")), SortedLines(r.out));
}

std::string Chunked(const std::string& body) {
  std::string framed;
  for (size_t at = 0; at < body.size(); at += 7) {
    std::string piece = body.substr(at, 7);
    char size[16];
    std::snprintf(size, sizeof size, "%zx", piece.size());
    framed += std::string(size) + "\r\n" + piece + "\r\n";
  }
  return framed + "0\r\n\r\n";
}

}  // namespace

// Every exchange is archived as it was served, in crawl order whatever -j
// is: redirects, error answers, robots.txt, chunked and compressed bodies,
// and a body the crawl would not have read to its end.
TEST(Archive, HoldsEveryExchangeAsServedInCrawlOrder) {
  ScriptedServer server;
  std::map<std::string, std::string> payloads;  // path: the body as served
  auto serve = [&](const std::string& path, const std::string& head, const std::string& body,
                   const std::string& payload) {
    server.SetResponse(path, head + body);
    payloads[path] = payload;
  };
  const std::string page =
      "<p>ferret</p>\n<a href=\"r.html\">r</a> <a href=\"gone.html\">g</a>\n"
      "<a href=\"c.html\">c</a> <a href=\"z.html\">z</a> <a href=\"big.bin\">b</a>\n";
  serve("/",
        "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: " +
            std::to_string(page.size()) + "\r\n\r\n",
        page, page);
  serve("/r.html", "HTTP/1.1 302 Found\r\nLocation: /b.html\r\nContent-Length: 6\r\n\r\n",
        "moved\n", "moved\n");
  serve("/b.html", "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: 6\r\n\r\n",
        "b the\n", "b the\n");
  serve("/gone.html", "HTTP/1.1 404 Not Found\r\nContent-Length: 3\r\n\r\n", "no\n", "no\n");
  const std::string chunkedText = "<p>a ferret, in pieces of seven bytes</p>\n";
  serve("/c.html",
        "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nTransfer-Encoding: chunked\r\n\r\n",
        Chunked(chunkedText), chunkedText);
  const std::string zipped = Gzipped("<p>a compressed ferret</p>\n");
  serve("/z.html",
        "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Encoding: gzip\r\nContent-Length: " +
            std::to_string(zipped.size()) + "\r\n\r\n",
        zipped, zipped);
  const std::string big(300000, 'b');
  serve(
      "/big.bin",
      "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\nContent-Length: 300000\r\n\r\n",
      big, big);
  serve("/robots.txt", "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 12\r\n\r\n",
        "User-agent:\n", "User-agent:\n");

  TempDir dir("ferret-warc");
  for (const char* file : {"crawl.warc.gz", "crawl.warc"}) {
    std::vector<std::string> order;
    for (const char* jobs : {"1", "4"}) {
      SCOPED_TRACE(std::string(file) + " -j " + jobs);
      server.ClearRequests();
      const std::string path = dir.Path() + "/" + jobs + file;
      ProcessResult r = RunProcess({FERRET_BINARY, server.Url("/"), "-k", "ferret", "-d", "1",
                                    "-robots", "-warc", path, "-j", jobs},
                                   dir.Path());
      EXPECT_EQ(r.exitCode, 1) << r.err;  // the 404
      std::vector<Record> records = Checked(path);
      ASSERT_FALSE(records.empty());
      EXPECT_EQ(records[0].type, "warcinfo");
      // One request record per request the server saw, each answered by a
      // response holding exactly what was served.
      std::vector<std::string> requested, served = server.RequestPaths();
      std::vector<std::string> seen;
      for (const Record& record : records) {
        if (record.type == "warcinfo") continue;
        seen.push_back(record.type + " " + record.uri);
        std::string path = record.uri.substr(record.uri.find('/', 7));
        if (record.type == "request") requested.push_back(path);
        if (record.type == "response") {
          EXPECT_EQ(record.payload, Sha1Hex(payloads[path])) << path;
        }
      }
      std::sort(requested.begin(), requested.end());
      std::sort(served.begin(), served.end());
      EXPECT_EQ(requested, served);
      EXPECT_EQ(std::count(requested.begin(), requested.end(), "/b.html"), 1);
      if (order.empty()) {
        order = seen;
      } else {
        EXPECT_EQ(seen, order);  // crawl order, fetched ahead or not
      }
      ExpectIndexAsWarcioMakesIt(path);
    }
  }
}

// A run killed at any moment leaves an archive of whole records, which
// both readers accept, and its index.
TEST(Archive, KilledAtAnyMomentLeavesWholeRecords) {
  ScriptedServer server;
  std::string nav;
  for (int i = 0; i < 30; ++i) nav += "<a href=\"/n" + std::to_string(i) + ".html\">n</a>\n";
  server.SetDefaultResponse(HtmlResponse("<p>ferret " + std::string(20000, 'x') + "</p>\n" + nav));
  server.SetResponseDelay(20, 7);
  std::mt19937 random(11);
  TempDir dir("ferret-warc-kill");
  for (int round = 0; round < 6; ++round) {
    const char* jobs = round % 2 == 0 ? "1" : "8";
    const std::string path =
        dir.Path() + "/k" + std::to_string(round) + ".warc" + (round % 3 == 2 ? "" : ".gz");
    auto delay = std::chrono::milliseconds(std::uniform_int_distribution<int>(30, 600)(random));
    SCOPED_TRACE(path + " -j " + jobs + ", killed after " + std::to_string(delay.count()) + " ms");
    // The delay counts from this run's first request, by which time its
    // archive holds its warcinfo record (the requests of the runs before
    // would let the kill come before the archive is begun).
    server.ClearRequests();
    ProcessResult r = RunProcess(
        {FERRET_BINARY, server.Url("/"), "-k", "ferret", "-d", "2", "-warc", path, "-j", jobs},
        dir.Path(), 120, [&](int pid) {
          server.WaitForRequests(1);
          std::this_thread::sleep_for(delay);
          kill(pid, SIGKILL);
        });
    EXPECT_EQ(r.signal, SIGKILL);
    // The writer outlives the crawler to finish the file: its index comes last.
    for (int waited = 0; waited < 1000 && !FileExists(path + ".cdxj"); ++waited) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_TRUE(FileExists(path + ".cdxj"));
    std::vector<Record> records = Checked(path);
    ASSERT_FALSE(records.empty());
    EXPECT_EQ(records[0].type, "warcinfo");
    ExpectIndexAsWarcioMakesIt(path);
  }
}
