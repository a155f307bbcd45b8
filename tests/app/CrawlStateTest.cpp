// CrawlState: what a commit keeps is what a new run finds, and nothing a
// step did after its last commit; the stack as SaveStack writes it in
// pieces; links as they were read, flags and sources included; a file of
// another command line, or no state at all, refused.
#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "app/CrawlState.h"
#include "tests/common/Files.h"

namespace {

std::shared_ptr<const PageLinks> LinksOf(const std::vector<std::string>& texts) {
  PageLinks links;
  uint8_t flags = 0;
  for (const std::string& text : texts) {
    links.Add(text.data(), text.size(), flags, static_cast<uint8_t>(flags * 3));
    flags = static_cast<uint8_t>((flags + 1) % 32);
  }
  return std::make_shared<const PageLinks>(std::move(links));
}

std::vector<std::string> TextsOf(const PageLinks& links) {
  std::vector<std::string> texts;
  for (size_t i = 0; i < links.size(); ++i) {
    texts.push_back(links[i] + std::string("|") + std::to_string(links.Flags(i)) + "|" +
                    std::to_string(links.Source(i)));
  }
  return texts;
}

CrawlState::Frame FrameOf(const std::string& url, size_t left) {
  CrawlState::Frame frame;
  frame.url = url;
  frame.depth = static_cast<int>(left) + 1;
  frame.pendingAt = left * 10;
  frame.left = left;
  frame.links = LinksOf({url + "/a", url + "/b", url + "/c"});
  return frame;
}

// A command line as ferret keeps it: each argument ended by a NUL.
const std::string kIdentity(
    "u\0-d\0"
    "2\0",
    7);

std::unique_ptr<CrawlState> OpenOrFail(const std::string& path) {
  std::string error;
  std::unique_ptr<CrawlState> state = CrawlState::Open(path, kIdentity, &error);
  EXPECT_NE(state, nullptr) << error;
  return state;
}

TEST(CrawlState, KeepsTheLastCommitOnly) {
  TempDir dir;
  const std::string path = dir.Path() + "/state.db";
  {
    std::unique_ptr<CrawlState> state = OpenOrFail(path);
    ASSERT_NE(state, nullptr);
    EXPECT_FALSE(state->Saved().started);
    long long page = state->NewPage();
    long long prior = 0;
    EXPECT_TRUE(state->MeetKey("http://h/a", page, &prior));
    EXPECT_FALSE(state->MeetKey("http://h/a", page + 7, &prior));
    EXPECT_EQ(prior, page);
    state->AssignKey("http://h/redirected", page);
    EXPECT_TRUE(state->InsertFile("http://h/f"));
    EXPECT_FALSE(state->InsertFile("http://h/f"));
    CrawlState::Page stored;
    stored.depth = 3;
    stored.url = "http://h/a";
    stored.links = LinksOf({"x", "", "http://h/y"});
    state->StorePage(page, stored);
    state->SaveStack(0, 0, {FrameOf("http://h/a", 3)});
    CrawlState::Scalars scalars;
    scalars.started = true;
    scalars.counts.hits = 4;
    scalars.counts.refused = 2;
    scalars.pageLimitReported = true;
    scalars.pagesTaken = 9;
    std::string error;
    ASSERT_TRUE(state->Commit(scalars, &error)) << error;
    // A step after the last commit: gone with the run.
    EXPECT_TRUE(state->MeetKey("http://h/later", state->NewPage(), &prior));
    EXPECT_TRUE(state->InsertFile("http://h/later"));
    state->SetPageDepth(page, 9);
    state->SaveStack(1, 0, {FrameOf("http://h/later", 2)});
  }
  std::unique_ptr<CrawlState> state = OpenOrFail(path);
  ASSERT_NE(state, nullptr);
  const CrawlState::Scalars& kept = state->Saved();
  EXPECT_TRUE(kept.started);
  EXPECT_FALSE(kept.finished);
  EXPECT_EQ(kept.counts.hits, 4);
  EXPECT_EQ(kept.counts.refused, 2);
  EXPECT_TRUE(kept.pageLimitReported);
  EXPECT_EQ(kept.pagesTaken, 9);
  long long page = state->PageOfKey("http://h/a");
  EXPECT_NE(page, 0);
  EXPECT_EQ(state->PageOfKey("http://h/redirected"), page);
  EXPECT_EQ(state->PageOfKey("http://h/later"), 0);
  EXPECT_GT(state->NewPage(), page);  // ids are never handed out twice
  EXPECT_TRUE(state->ContainsFile("http://h/f"));
  EXPECT_FALSE(state->ContainsFile("http://h/later"));
  CrawlState::Page loaded = state->LoadPage(page);
  EXPECT_EQ(loaded.depth, 3);
  EXPECT_EQ(loaded.url, "http://h/a");
  ASSERT_NE(loaded.links, nullptr);
  EXPECT_EQ(TextsOf(*loaded.links), (std::vector<std::string>{"x|0|0", "|1|3", "http://h/y|2|6"}));
  EXPECT_EQ(state->LoadPage(page + 100).depth, -1);  // met, never expanded
  std::vector<CrawlState::Frame> stack = state->LoadStack();
  ASSERT_EQ(stack.size(), 1u);
  EXPECT_EQ(stack[0].url, "http://h/a");
  EXPECT_EQ(stack[0].left, 3u);
  EXPECT_EQ(stack[0].depth, 4);
  EXPECT_EQ(stack[0].pendingAt, 30u);
  EXPECT_EQ(TextsOf(*stack[0].links), TextsOf(*FrameOf("http://h/a", 3).links));
  std::string error;
  ASSERT_TRUE(state->Finish(&error)) << error;
  state.reset();
  EXPECT_TRUE(OpenOrFail(path)->Saved().finished);
}

// Steps of a crawl's stack, each committed: the frames below keep stay, the
// one just below gets its new left, those above are written anew.
TEST(CrawlState, WritesTheStackFromWhereItChanged) {
  struct Save {
    size_t keep;
    size_t topLeft;
    std::vector<std::pair<std::string, size_t>> above;
    std::vector<std::pair<std::string, size_t>> expected;  // url, left
  };
  const std::vector<Save> saves = {
      {0, 0, {{"a", 3}}, {{"a", 3}}},
      {1, 2, {{"b", 1}, {"c", 3}}, {{"a", 2}, {"b", 1}, {"c", 3}}},  // two pages read
      {3, 2, {}, {{"a", 2}, {"b", 1}, {"c", 2}}},                    // a link passed over
      {1, 1, {{"d", 3}}, {{"a", 1}, {"d", 3}}},                      // c and b done, d read
      {0, 0, {}, {}},                                                // the crawl's end
  };
  TempDir dir;
  const std::string path = dir.Path() + "/state.db";
  for (const Save& save : saves) {
    std::vector<CrawlState::Frame> above;
    for (const auto& frame : save.above) above.push_back(FrameOf(frame.first, frame.second));
    {
      std::unique_ptr<CrawlState> state = OpenOrFail(path);
      ASSERT_NE(state, nullptr);
      state->SaveStack(save.keep, save.topLeft, above);
      std::string error;
      ASSERT_TRUE(state->Commit(CrawlState::Scalars(), &error)) << error;
    }
    std::vector<std::pair<std::string, size_t>> loaded;
    for (const CrawlState::Frame& frame : OpenOrFail(path)->LoadStack()) {
      loaded.emplace_back(frame.url, frame.left);
    }
    EXPECT_EQ(loaded, save.expected) << "after keep " << save.keep;
  }
}

TEST(CrawlState, RefusesAnotherCommandLineAndWhatIsNoState) {
  TempDir dir;
  const std::string path = dir.Path() + "/state.db";
  OpenOrFail(path);
  const std::string notState = dir.Path() + "/notes";
  std::ofstream(notState) << std::string(4096, 'x');
  struct Refused {
    std::string path;
    std::string identity;
    std::string message;
  };
  const std::vector<Refused> refusals = {
      {path,
       std::string("u\0-d\0"
                   "3\0",
                   7),
       "another command line"},
      {path, std::string("u\0-d\0", 5), "another command line"},
      {path,
       std::string("u\0-d\0"
                   "2\0-once\0",
                   13),
       "another command line"},
      {notState, kIdentity, "not a crawl state"},
      {dir.Path() + "/no/such/dir/state.db", "u", "unable to open"},
  };
  for (const Refused& refused : refusals) {
    std::string error;
    EXPECT_EQ(CrawlState::Open(refused.path, refused.identity, &error), nullptr);
    EXPECT_NE(error.find(refused.message), std::string::npos) << error;
  }
  EXPECT_EQ(ReadFile(notState), std::string(4096, 'x'));
  EXPECT_NE(OpenOrFail(path), nullptr);  // the same command line still opens it
}

}  // namespace
