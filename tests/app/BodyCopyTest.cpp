// A body read once for a page's scan and its save: the copy a reader hands on
// is the body byte for byte, and the reading is the one made without a copy;
// a held body gives back every byte it was given.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "app/BodyCopy.h"
#include "app/PageReader.h"
#include "net/HttpRequest.h"
#include "tests/support/HttpResponse.h"
#include "tests/support/ParsedUrl.h"
#include "tests/support/ScriptedTransport.h"

namespace {

// One answer, delivered in chunks of chunk bytes (the head with the first).
Connector Delivering(const std::string& response, size_t chunk) {
  return [response, chunk](SocketStreamBuf& connection, const Url&, Failure*) {
    auto transport = std::make_unique<ScriptedTransport>(std::make_shared<TransportLog>());
    for (size_t at = 0; at < response.size(); at += chunk) {
      transport->Deliver(response.substr(at, chunk));
    }
    connection.UseTransport(std::move(transport));
    return true;
  };
}

struct Reading {
  PageReader::Page page;
  std::string copied;
};

Reading Read(bool html, const std::string& response, size_t chunk, bool copy) {
  const Url url = ParsedUrl("http://site.test/dir/p.html");
  FetchOutcome outcome = Fetch(url, FetchPolicy(), Delivering(response, chunk));
  Reading reading;
  if (outcome.body == nullptr) return reading;
  PageReader reader("needle", ".", html);
  PieceSink sink = [&reading](std::string_view piece) {
    reading.copied.append(piece.data(), piece.size());
    return true;
  };
  reading.page = reader.Read(*outcome.body, outcome.url, 100, true, nullptr, nullptr,
                             copy ? sink : nullptr);
  // What a reader leaves is taken by CopyRest; these readers leave nothing.
  if (copy) CopyRest(*outcome.body, sink);
  return reading;
}

std::vector<std::string> Links(const PageLinks& links) {
  std::vector<std::string> all;
  for (size_t i = 0; i < links.size(); ++i) all.push_back(links[i]);
  return all;
}

TEST(BodyCopy, AReadingHandsOnTheWholeBodyAndReadsAsWithout) {
  const std::string longLine(3000, 'x');
  const std::vector<std::string> bodies = {
      "",
      "needle\n",
      "a\r\n<a href=\"one.html\">1</a>\r\n" + longLine + "<a href=\"cut.html\">\n" +
          "<img src=\"two.png\">\n<p>needle</p>\n<a href=\"three.html\">no final newline",
      std::string(1, '\0') + "bytes\xff\n<a href=\"four.html\">4</a>",
  };
  for (bool html : {false, true}) {
    for (const std::string& body : bodies) {
      for (size_t chunk : {size_t{1}, size_t{7}, size_t{4096}, size_t{1} << 20}) {
        SCOPED_TRACE(std::string(html ? "-html" : "lines") + ", chunks of " +
                     std::to_string(chunk) + ", body of " + std::to_string(body.size()));
        const std::string response = HtmlResponse(body);
        Reading with = Read(html, response, chunk, true);
        Reading without = Read(html, response, chunk, false);
        EXPECT_TRUE(with.copied == body);
        EXPECT_EQ(without.copied, "");
        EXPECT_EQ(with.page.keywordFound, without.page.keywordFound);
        EXPECT_EQ(with.page.keywordFound, body.find("needle") != std::string::npos);
        EXPECT_EQ(Links(with.page.links), Links(without.page.links));
      }
    }
  }
  // A sink that wants no more is given no more.
  const Url url = ParsedUrl("http://site.test/f.bin");
  FetchOutcome outcome = Fetch(url, FetchPolicy(), Delivering(HtmlResponse(longLine), 100));
  ASSERT_NE(outcome.body, nullptr);
  size_t pieces = 0;
  CopyRest(*outcome.body, [&pieces](std::string_view) { return ++pieces < 2; });
  EXPECT_EQ(pieces, 2u);
}

// Past the memory it keeps, a held body goes on in a temporary file; where
// none can be made (TMPDIR names no directory) it says it is not whole.
TEST(BodyCopy, AHeldBodyGivesBackEveryByteInOrder) {
  const size_t memory = HeldBody::kInMemory;
  const char* tmpdir = getenv("TMPDIR");
  const std::string previous = tmpdir != nullptr ? tmpdir : "";
  for (const char* dir : {"/tmp", "/dev/null/none"}) {
    setenv("TMPDIR", dir, 1);
    for (size_t size : {size_t{0}, memory, memory + 1, 2 * memory + 12345}) {
      SCOPED_TRACE(std::to_string(size) + " bytes, TMPDIR " + dir);
      const std::string body = PseudoRandomBytes(size, static_cast<unsigned>(size));
      HeldBody held;
      bool kept = true;
      for (size_t at = 0; at < size; at += 1000) kept = held.Append(body.substr(at, 1000));
      const bool whole = dir[1] == 't' || size <= memory;
      EXPECT_EQ(kept, whole);
      EXPECT_EQ(held.Whole(), whole);
      if (!held.Whole()) continue;
      std::string out;
      EXPECT_TRUE(held.WriteTo([&out](const char* data, size_t length) {
        out.append(data, length);
        return true;
      }));
      EXPECT_TRUE(out == body);
      // A writer that fails ends the writing.
      EXPECT_EQ(held.WriteTo([](const char*, size_t) { return false; }), size == 0);
    }
  }
  if (tmpdir != nullptr) {
    setenv("TMPDIR", previous.c_str(), 1);
  } else {
    unsetenv("TMPDIR");
  }
}

}  // namespace
