// The lines of -i's list, and the shard a host belongs to (-shard).
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "app/Shard.h"
#include "text/Fnv1a.h"
#include "app/StartList.h"
#include "tests/common/Files.h"

namespace {

TEST(StartList, LinesAreAUrlAndAnOptionalDepth) {
  const struct {
    const char* line;
    const char* url;  // "": no start
    int depth;
    bool bad;
  } cases[] = {
      {"http://h/a", "http://h/a", -1, false},
      {"  h:8080/b\t", "h:8080/b", -1, false},
      {"http://h/a 3", "http://h/a", 3, false},
      {"http://h/a\t0\r", "http://h/a", 0, false},
      {"", "", -1, false},
      {" \t\r", "", -1, false},
      {"# http://h/a", "", -1, false},
      {"  #comment 3", "", -1, false},
      {"http://h/a x", "http://h/a", -1, true},
      {"http://h/a -1", "http://h/a", -1, true},
      {"http://h/a -", "http://h/a", kMetBefore, false},
      {"http://h/a - 2", "http://h/a", kMetBefore, true},
      {"http://h/a 99999999999", "http://h/a", -1, true},
      {"http://h/a 2 more", "http://h/a", 2, true},
      {"http://h/a 2 # note", "http://h/a", 2, true},
  };
  for (const auto& c : cases) {
    StartLine start;
    ReadStartLine(c.line, &start);
    EXPECT_EQ(start.url, c.url) << c.line;
    EXPECT_EQ(start.depth, c.depth) << c.line;
    EXPECT_EQ(!start.problem.empty(), c.bad) << c.line << ": " << start.problem;
  }
}

TEST(StartList, NextSkipsWhatHoldsNoStartAndNumbersEveryLine) {
  TempDir dir("ferret-list");
  const std::string path = dir.Path() + "/list";
  std::ofstream(path) << ("# starts\n\nhttp://h/a\n  \nh/b 2\nh/c x\n#\nh/d");  // no last line end
  StartList list(path);
  ASSERT_NE(list.file(), nullptr);
  std::vector<std::string> seen;
  StartLine start;
  while (list.Next(&start)) {
    seen.push_back(std::to_string(start.number) + " " + start.url + " " +
                   std::to_string(start.depth) + (start.problem.empty() ? "" : " bad"));
  }
  EXPECT_EQ(seen,
            (std::vector<std::string>{"3 http://h/a -1", "5 h/b 2", "6 h/c -1 bad", "8 h/d -1"}));
  EXPECT_EQ(StartList(dir.Path() + "/none").file(), nullptr);
}

TEST(Shard, HostsGoByTheFnv1aOfTheirDomain) {
  // The published FNV-1a 64-bit test values.
  EXPECT_EQ(Fnv1a64Of(""), 0xcbf29ce484222325ull);
  EXPECT_EQ(Fnv1a64Of("a"), 0xaf63dc4c8601ec8cull);
  EXPECT_EQ(Fnv1a64Of("foobar"), 0x85944171f73967e8ull);
  for (int shards : {1, 2, 3, 4, 7, 64, 65536}) {
    const int ofDomain = static_cast<int>(Fnv1a64Of("example.org") % shards);
    // Every host of a domain, in any letter case, with a last '.'.
    for (const char* host :
         {"example.org", "www.example.org", "Docs.EXAMPLE.org", "a.b.example.org."}) {
      EXPECT_EQ(ShardOfHost(host, shards), ofDomain) << host << " of " << shards;
    }
    // An address, or a name with no registrable domain, is a domain of its own.
    for (const char* host : {"127.0.0.2", "127.0.0.9", "localhost", "a.b.co.uk"}) {
      std::string domain = std::string(host) == "a.b.co.uk" ? "b.co.uk" : host;
      EXPECT_EQ(ShardOfHost(host, shards), static_cast<int>(Fnv1a64Of(domain) % shards)) << host;
    }
  }
}

}  // namespace
