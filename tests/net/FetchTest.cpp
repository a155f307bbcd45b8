// Fetch over scripted connections: the request it sends, failures as data,
// framed bodies, the connection a body gives back, and the recording and
// replay of each exchange.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <deque>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "net/HttpRequest.h"
#include "net/RecordedExchange.h"
#include "tests/support/Loopback.h"
#include "tests/support/ParsedUrl.h"
#include "tests/support/ScriptedTransport.h"

namespace {

// One scripted connection: what it delivers, then its error (0: it ends).
struct Script {
  std::vector<std::string> chunks;
  int error = 0;
};

// Connects each request to the next script; past the last, connecting fails
// as a refused connect would.
Connector Scripted(std::vector<Script> scripts, std::shared_ptr<TransportLog> log = nullptr) {
  auto left = std::make_shared<std::deque<Script>>(scripts.begin(), scripts.end());
  if (!log) log = std::make_shared<TransportLog>();
  return [left, log](SocketStreamBuf& connection, const Url& url, Failure* failure) {
    if (left->empty()) {
      failure->kind = FailureKind::kConnectFailed;
      failure->host = url.Host();
      failure->port = url.Port();
      failure->systemError = ECONNREFUSED;
      return false;
    }
    auto transport = std::make_unique<ScriptedTransport>(log);
    for (const std::string& chunk : left->front().chunks) transport->Deliver(chunk);
    transport->FailAfter(left->front().error);
    left->pop_front();
    connection.UseTransport(std::move(transport));
    return true;
  };
}

std::string ReadBody(ResponseBody& body) {
  std::iostream& in = body.Stream();
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The request line carries the path and the query where they belong; Host
// names the port only when it is not the scheme's default.
TEST(HttpRequestLine, TargetAndHostField) {
  const struct {
    const char* url;
    const char* target;
    const char* host;
  } cases[] = {
      {"http://site.test/a", "/a", "site.test"},
      {"http://site.test:80/a", "/a", "site.test"},
      {"site.test:8080/a", "/a", "site.test:8080"},
      {"http://Site.Test:443/", "/", "Site.Test:443"},
      {"http://site.test:8080?q=1", "/?q=1", "site.test:8080"},
      {"http://site.test?q=1/x", "/?q=1/x", "site.test"},
      {"http://site.test/p?q=1#f", "/p?q=1", "site.test"},
  };
  for (const auto& c : cases) {
    auto log = std::make_shared<TransportLog>();
    Connector connect = [log](SocketStreamBuf& connection, const ::Url&, Failure*) {
      auto transport = std::make_unique<ScriptedTransport>(log);
      transport->Deliver("HTTP/1.0 200 OK\r\n\r\n");
      connection.UseTransport(std::move(transport));
      return true;
    };
    FetchOutcome outcome = Fetch(ParsedUrl(c.url), FetchPolicy(), connect);
    EXPECT_EQ(outcome.status, FetchStatus::kAnswered) << c.url;
    std::string expected = std::string("GET ") + c.target + " HTTP/1.1\r\nHost: " + c.host + "\r\n";
    EXPECT_EQ(log->sent.substr(0, expected.size()), expected) << c.url;
  }
}

TEST(FetchFailure, WhatWentWrongComesBackAsData) {
  const std::string url = "http://site.test/p";
  const std::string tooLong = "/" + std::string(kMaxUrlLength, 'x');
  const struct {
    const char* name;
    std::string url;
    std::vector<Script> scripts;
    FailureKind kind;
    std::string failedUrl;
    int status;
    int systemError;
    unsigned long long bytesRead;  // for a body cut short
  } rows[] = {
      {"error status",
       url,
       {{{"HTTP/1.0 404 Not Found\r\n\r\ngone"}}},
       FailureKind::kHttpError,
       url,
       404,
       0,
       0},
      {"closed at once", url, {{{}}}, FailureKind::kEmptyReply, url, 0, 0, 0},
      {"reset at once", url, {{{}, ECONNRESET}}, FailureKind::kEmptyReply, url, 0, 0, 0},
      {"head timed out",
       url,
       {{{"HTTP/1.0 200 OK\r\n"}, EAGAIN}},
       FailureKind::kTimedOut,
       url,
       0,
       EAGAIN,
       0},
      {"head reset",
       url,
       {{{"HTTP/1.0 200 OK\r\n"}, ECONNRESET}},
       FailureKind::kReceiveFailed,
       url,
       0,
       ECONNRESET,
       0},
      {"head too large",
       url,
       {{{"HTTP/1.0 200 OK\r\n" + std::string(kMaxHeaderBytes, 'x')}}},
       FailureKind::kHeaderTooLarge,
       url,
       0,
       0,
       0},
      {"redirect to nowhere",
       url,
       {{{"HTTP/1.0 302 Found\r\nLocation: http://site.test/q\r\n\r\n"}}},
       FailureKind::kConnectFailed,
       "http://site.test/q",
       0,
       ECONNREFUSED,
       0},
      {"redirect too long",
       url,
       {{{"HTTP/1.0 302 Found\r\nLocation: " + tooLong + "\r\n\r\n"}}},
       FailureKind::kUrlTooLong,
       "site.test:80" + tooLong,
       0,
       0,
       0},
      {"redirect to a bad URL",
       url,
       {{{"HTTP/1.0 302 Found\r\nLocation: http://site.test:99999/\r\n\r\n"}}},
       FailureKind::kBadUrl,
       "http://site.test:99999/",
       0,
       0,
       0},
      {"body cut short",
       url,
       {{{"HTTP/1.0 200 OK\r\nContent-Length: 10\r\n\r\nabc"}}},
       FailureKind::kCutShort,
       url,
       0,
       0,
       3},
      {"body reset",
       url,
       {{{"HTTP/1.0 200 OK\r\n\r\nabc"}, ECONNRESET}},
       FailureKind::kReceiveFailed,
       url,
       0,
       ECONNRESET,
       0},
      {"body timed out",
       url,
       {{{"HTTP/1.0 200 OK\r\nContent-Length: 10\r\n\r\nabc"}, ETIMEDOUT}},
       FailureKind::kTimedOut,
       url,
       0,
       ETIMEDOUT,
       0},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    FetchOutcome outcome = Fetch(ParsedUrl(row.url.c_str()), FetchPolicy(), Scripted(row.scripts));
    Failure failure = outcome.failure;
    if (outcome.status == FetchStatus::kAnswered) {
      ReadBody(*outcome.body);
      EXPECT_FALSE(outcome.body->Complete(&failure));
    } else {
      EXPECT_EQ(outcome.status, FetchStatus::kFailed);
      EXPECT_EQ(outcome.body, nullptr);
    }
    EXPECT_EQ(failure.kind, row.kind);
    EXPECT_EQ(std::string(failure.url), row.failedUrl);
    EXPECT_EQ(failure.status, row.status);
    EXPECT_EQ(failure.systemError, row.systemError);
    EXPECT_EQ(failure.bytesRead, row.bytesRead);
    if (row.kind == FailureKind::kCutShort) {
      EXPECT_EQ(failure.bytesExpected, 10);
    }
    if (row.kind == FailureKind::kConnectFailed) {
      EXPECT_EQ(std::string(failure.host), "site.test");
      EXPECT_EQ(failure.port, 80);
    }
  }

  // A real refused connect names the host, the port and the system's error.
  RefusedPort refused;
  std::string target = "http://127.0.0.1:" + std::to_string(refused.Port()) + "/";
  FetchOutcome outcome = Fetch(ParsedUrl(target.c_str()), FetchPolicy());
  EXPECT_EQ(outcome.failure.kind, FailureKind::kConnectFailed);
  EXPECT_EQ(std::string(outcome.failure.url), target);
  EXPECT_EQ(std::string(outcome.failure.host), "127.0.0.1");
  EXPECT_EQ(outcome.failure.port, refused.Port());
  EXPECT_EQ(outcome.failure.systemError, ECONNREFUSED);
}

// What each framing, interim head, status and Location comes to: an answer
// with its body, or a failure as data.
TEST(FetchFraming, HeadsAndBodiesAreReadByTheirFraming) {
  const std::string url = "http://site.test/p";
  const std::string ok = "HTTP/1.1 200 OK\r\n";
  const std::string chunked = ok + "Transfer-Encoding: chunked\r\n\r\n";
  std::string interims, tooMany;
  for (int i = 0; i < kMaxInterimHeads; ++i) interims += "HTTP/1.1 100 Continue\r\n\r\n";
  tooMany = interims + "HTTP/1.1 103 Early Hints\r\n\r\n";
  const struct {
    const char* name;
    std::vector<Script> scripts;
    FailureKind kind;  // kNone: answered and whole
    std::string detail;
    int status;
    std::string body;  // of an answer
    int headersRead;
    std::string url;  // that answered or failed
  } rows[] = {
      {"length, more sent",
       {{{ok + "Content-Length: 5\r\n\r\nhello, more"}}},
       FailureKind::kNone,
       "",
       0,
       "hello",
       1,
       url},
      {"length as a list of one value",
       {{{ok + "Content-Length: 5, 5\r\n\r\nhello!"}}},
       FailureKind::kNone,
       "",
       0,
       "hello",
       1,
       url},
      {"length negative",
       {{{ok + "Content-Length: -1\r\n\r\nhello"}}},
       FailureKind::kBadLength,
       "-1",
       0,
       "",
       1,
       url},
      {"length past 63 bits",
       {{{ok + "Content-Length: 100000000000000000000000000\r\n\r\nx"}}},
       FailureKind::kBadLength,
       "100000000000000000000000000",
       0,
       "",
       1,
       url},
      {"lengths that differ",
       {{{ok + "Content-Length: 5\r\nContent-Length: 6\r\n\r\nhello!"}}},
       FailureKind::kConflictingLength,
       "5, 6",
       0,
       "",
       1,
       url},
      {"bad length beside chunked: not heeded",
       {{{ok + "Content-Length: -1\r\nTransfer-Encoding: chunked\r\n\r\n2\r\nhi\r\n0\r\n\r\n"}}},
       FailureKind::kNone,
       "",
       0,
       "hi",
       1,
       url},
      {"bad length on an error status",
       {{{"HTTP/1.1 404 No\r\nContent-Length: x\r\n\r\n"}}},
       FailureKind::kHttpError,
       "",
       404,
       "",
       1,
       url},
      {"bad length on a redirect",
       {{{"HTTP/1.1 302 Found\r\nContent-Length: -1\r\nLocation: /q\r\n\r\n"}}, {{ok + "\r\nq"}}},
       FailureKind::kNone,
       "",
       0,
       "q",
       2,
       "site.test:80/q"},
      {"chunked",
       {{{chunked + "5\r\nhello\r\n0\r\n\r\nmore"}}},
       FailureKind::kNone,
       "",
       0,
       "hello",
       1,
       url},
      {"chunked, malformed",
       {{{chunked + "5\r\nhello0\r\n\r\n"}}},
       FailureKind::kBadChunking,
       "",
       0,
       "hello",
       1,
       url},
      {"chunked, closed before the last chunk",
       {{{chunked + "5\r\nhello\r\n"}}},
       FailureKind::kBadChunking,
       "",
       0,
       "hello",
       1,
       url},
      {"interim heads passed over",
       {{{interims + ok + "\r\nbody"}}},
       FailureKind::kNone,
       "",
       0,
       "body",
       1,
       url},
      {"interim heads, split",
       {{{"HTTP/1.1 100 Continue\r\n", "\r\nHTTP/1.1 20", "0 OK\r\n\r\nb"}}},
       FailureKind::kNone,
       "",
       0,
       "b",
       1,
       url},
      {"too many interim heads",
       {{{tooMany + ok + "\r\nbody"}}},
       FailureKind::kTooManyInterim,
       "",
       0,
       "",
       0,
       url},
      {"interim head, then nothing",
       {{{"HTTP/1.1 100 Continue\r\n\r\n"}}},
       FailureKind::kEmptyReply,
       "",
       0,
       "",
       0,
       url},
      {"101 is no interim head",
       {{{"HTTP/1.1 101 Switching\r\n\r\n" + ok + "\r\nb"}}},
       FailureKind::kHttpError,
       "",
       101,
       "",
       1,
       url},
      {"status 000",
       {{{"HTTP/1.0 000 Zero\r\n\r\nbody"}}},
       FailureKind::kHttpError,
       "",
       0,
       "",
       1,
       url},
      {"status 099",
       {{{"HTTP/1.0 099 Low\r\n\r\nbody"}}},
       FailureKind::kHttpError,
       "",
       99,
       "",
       1,
       url},
      {"a blank line before the status line",
       {{{"\r\nHTTP/1.0 404 Not Found\r\n\r\nbody"}}},
       FailureKind::kHttpError,
       "",
       404,
       "",
       1,
       url},
      {"two-digit version: no status line",
       {{{"HTTP/1.10 404 Not Found\r\n\r\nbody"}}},
       FailureKind::kNone,
       "",
       0,
       "body",
       1,
       url},
      {"2xx with a Location is an answer",
       {{{"HTTP/1.1 201 Created\r\nLocation: /new\r\n\r\nmade"}}},
       FailureKind::kNone,
       "",
       0,
       "made",
       1,
       url},
      {"no status line, a Location: redirects",
       {{{"Location: http://site.test/q\r\n\r\n"}}, {{ok + "\r\nq"}}},
       FailureKind::kNone,
       "",
       0,
       "q",
       2,
       "http://site.test/q"},
      {"3xx to a file: URL",
       {{{"HTTP/1.1 302 Found\r\nLocation: file:///etc/passwd\r\n\r\n"}}},
       FailureKind::kRedirectScheme,
       "file",
       0,
       "",
       1,
       url},
      {"3xx to an ftp: URL",
       {{{"HTTP/1.1 301 Moved\r\nLocation: FTP://site.test/x\r\n\r\n"}}},
       FailureKind::kRedirectScheme,
       "FTP",
       0,
       "",
       1,
       url},
      {"3xx to a data: URL",
       {{{"HTTP/1.1 303 See\r\nLocation: data:text/html,hi\r\n\r\n"}}},
       FailureKind::kRedirectScheme,
       "data",
       0,
       "",
       1,
       url},
      {"no status line to javascript:",
       {{{"Location: javascript:alert(1)\r\n\r\n"}}},
       FailureKind::kRedirectScheme,
       "javascript",
       0,
       "",
       1,
       url},
      {"3xx to https: and a query",
       {{{"HTTP/1.1 307 Temp\r\nLocation: HTTPS://site.test:8443?q=1\r\n\r\n"}}, {{ok + "\r\nq"}}},
       FailureKind::kNone,
       "",
       0,
       "q",
       2,
       "HTTPS://site.test:8443?q=1"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    FetchOutcome outcome = Fetch(ParsedUrl(url.c_str()), FetchPolicy(), Scripted(row.scripts));
    EXPECT_EQ(std::string(outcome.url.Text()), row.url);
    EXPECT_EQ(outcome.headersRead, row.headersRead);
    Failure failure = outcome.failure;
    if (outcome.status == FetchStatus::kAnswered) {
      EXPECT_EQ(ReadBody(*outcome.body), row.body);
      EXPECT_EQ(outcome.body->Complete(&failure), row.kind == FailureKind::kNone);
    } else {
      EXPECT_EQ(outcome.status, FetchStatus::kFailed);
      EXPECT_EQ(outcome.body, nullptr);
    }
    EXPECT_EQ(failure.kind, row.kind);
    if (row.kind == FailureKind::kNone) continue;
    EXPECT_EQ(std::string(failure.url), row.url);
    EXPECT_EQ(std::string(failure.detail), row.detail);
    EXPECT_EQ(failure.status, row.status);
  }
}

// The body stops at its length; what follows stays on the connection, which
// the body hands back.
TEST(FetchBody, FramedBodyLeavesTheConnectionForTheNextExchange) {
  FetchOutcome outcome = Fetch(
      ParsedUrl("http://site.test/"), FetchPolicy(),
      Scripted({{{"HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: 5\r\n\r\nhel",
                  "loHTTP/1.1 204 No Content\r\n\r\n"}}}));
  ASSERT_EQ(outcome.status, FetchStatus::kAnswered);
  EXPECT_TRUE(outcome.html);
  EXPECT_EQ(ReadBody(*outcome.body), "hello");
  EXPECT_TRUE(outcome.body->Ended());
  Failure failure;
  EXPECT_TRUE(outcome.body->Complete(&failure));
  std::unique_ptr<SocketStreamBuf> connection = outcome.body->ReleaseConnection();
  outcome.body.reset();
  ASSERT_NE(connection, nullptr);
  HttpResponse next;
  EXPECT_EQ(next.Read(*connection), HttpResponse::End::kBlankLine);
  EXPECT_EQ(next.Status(), 204);
}

// Each exchange is recorded as the HTTP code read it, and a replay answers
// exactly as the server did.
TEST(FetchRecording, EachExchangeIsRecordedAndReplayedAlike) {
  const std::string redirect = "HTTP/1.0 301 Moved\r\nLocation: http://site.test/b.bin\r\n\r\n";
  const std::string head = "HTTP/1.0 200 OK\r\nContent-Length: 5\r\n\r\n";
  Recordings recordings;
  ExchangeRecorder recorder{&recordings, 1 << 20, nullptr};
  std::string live;
  {
    FetchOutcome outcome =
        Fetch(ParsedUrl("http://site.test/a"), FetchPolicy(),
              Scripted({{{redirect + "ignored"}}, {{head + "01", "234trailing"}}}), &recorder);
    ASSERT_EQ(outcome.status, FetchStatus::kAnswered);
    live = ReadBody(*outcome.body);
  }
  EXPECT_EQ(live, "01234");
  ASSERT_EQ(recordings.size(), 2u);
  EXPECT_EQ(std::string(recordings[0].url), "http://site.test/a");
  EXPECT_EQ(recordings[0].head, redirect);
  EXPECT_EQ(recordings[0].body.Text(), "");
  EXPECT_EQ(std::string(recordings[1].url), "http://site.test/b.bin");
  EXPECT_EQ(recordings[1].head, head);
  EXPECT_EQ(recordings[1].body.Text(), "01234");  // the body as framed, nothing after it
  EXPECT_TRUE(recordings[1].usable);

  auto shared = std::make_shared<const Recordings>(std::move(recordings));
  FetchOutcome replayed =
      Fetch(ParsedUrl("http://site.test/a"), FetchPolicy(), ReplayConnector(shared));
  ASSERT_EQ(replayed.status, FetchStatus::kAnswered);
  EXPECT_EQ(std::string(replayed.url.Text()), "http://site.test/b.bin");
  EXPECT_EQ(replayed.headersRead, 2);
  EXPECT_EQ(ReadBody(*replayed.body), "01234");
  EXPECT_TRUE(replayed.body->Ended());

  // A failed receive is replayed as the same failure.
  Recordings failed;
  ExchangeRecorder failing{&failed, 1 << 20, nullptr};
  {
    FetchOutcome outcome = Fetch(ParsedUrl("http://site.test/c"), FetchPolicy(),
                                 Scripted({{{"HTTP/1.0 200 OK\r\n\r\nab"}, ECONNRESET}}), &failing);
    ReadBody(*outcome.body);
  }
  ASSERT_EQ(failed.size(), 1u);
  EXPECT_EQ(failed[0].endError, ECONNRESET);
  FetchOutcome again = Fetch(ParsedUrl("http://site.test/c"), FetchPolicy(),
                             ReplayConnector(std::make_shared<const Recordings>(std::move(failed))));
  ASSERT_EQ(again.status, FetchStatus::kAnswered);
  EXPECT_EQ(ReadBody(*again.body), "ab");
  Failure failure;
  EXPECT_FALSE(again.body->Complete(&failure));
  EXPECT_EQ(failure.kind, FailureKind::kReceiveFailed);
  EXPECT_EQ(failure.systemError, ECONNRESET);
}

// A recording stands only for the URL it was made for, and only when it was
// kept whole (here the rest of the body past the memory cap had nowhere to
// go): anything else is asked of the server, which answers "live". The
// memory a body keeps is drawn from the run's budget while the recording
// lives; with the budget spent the body goes to the temporary file whole.
TEST(FetchRecording, OnlyAWholeRecordingOfTheSameUrlIsReplayed) {
  const std::string recorded = "HTTP/1.0 200 OK\r\nContent-Length: 8\r\n\r\nrecorded";
  const std::string live = "HTTP/1.0 200 OK\r\nContent-Length: 4\r\n\r\nlive";
  const char* const nowhere = "/dev/null/spill";  // no directory can be there
  const struct {
    const char* name;
    const char* asked;
    bool spillFails;  // the temporary file for the bytes past the cap cannot be made
    size_t budget;    // bytes the run's recordings may keep in memory
    bool usable;
    const char* body;
    const char* inMemory;  // the body bytes the recording kept in memory
  } rows[] = {
      {"the same URL, spilled past the cap", "http://site.test/r", false, 1 << 20, true,
       "recorded", "reco"},
      {"another URL", "http://site.test/other", false, 1 << 20, true, "live", "reco"},
      {"the same URL, cut at the cap", "http://site.test/r", true, 1 << 20, false, "live", "reco"},
      {"the same URL, the budget spent", "http://site.test/r", false, 0, true, "recorded", ""},
  };
  const char* tmpdir = std::getenv("TMPDIR");
  const std::string savedTmpdir = tmpdir != nullptr ? tmpdir : "";
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    if (row.spillFails) setenv("TMPDIR", nowhere, 1);
    Recordings recordings;
    auto budget = std::make_shared<SharedBudget>(row.budget);
    ExchangeRecorder recorder{&recordings, 4, budget};
    {
      FetchOutcome outcome = Fetch(ParsedUrl("http://site.test/r"), FetchPolicy(),
                                   Scripted({{{recorded}}}), &recorder);
      ASSERT_EQ(outcome.status, FetchStatus::kAnswered);
      EXPECT_EQ(ReadBody(*outcome.body), "recorded");
    }
    if (tmpdir != nullptr) {
      setenv("TMPDIR", savedTmpdir.c_str(), 1);
    } else {
      unsetenv("TMPDIR");
    }
    ASSERT_EQ(recordings.size(), 1u);
    EXPECT_EQ(recordings[0].usable, row.usable);
    EXPECT_EQ(recordings[0].body.Text(), row.inMemory);
    EXPECT_EQ(budget->Held() > 0, row.budget > 0);
    FetchOutcome again =
        Fetch(ParsedUrl(row.asked), FetchPolicy(),
              ReplayConnector(std::make_shared<const Recordings>(std::move(recordings)),
                              Scripted({{{live}}})));
    ASSERT_EQ(again.status, FetchStatus::kAnswered);
    EXPECT_EQ(ReadBody(*again.body), row.body);
    Failure failure;
    EXPECT_TRUE(again.body->Complete(&failure));
    again.body.reset();
    EXPECT_EQ(budget->Held(), 0u);  // the recordings went with the replay
  }
}

// A chunked exchange, interim head included, is recorded as received and
// replayed to the same bytes and the same end, well formed or not.
TEST(FetchRecording, ChunkedExchangesReplayAlike) {
  const std::string heads =
      "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
  const struct {
    const char* name;
    std::vector<std::string> chunks;  // after the heads
    std::string body;
    bool whole;
  } rows[] = {
      {"well formed", {"4;x=1\r\nWiki\r", "\n5\r\npedia\r\n0\r\nT: 1\r\n\r\n"}, "Wikipedia", true},
      {"malformed", {"4\r\nWiki\r\nzz\r\n"}, "Wiki", false},
      {"cut off", {"4\r\nWiki\r\n5\r\nped"}, "Wikiped", false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    std::vector<std::string> chunks = row.chunks;
    chunks.insert(chunks.begin(), heads);
    std::string raw;
    for (size_t i = 1; i < chunks.size(); ++i) raw += chunks[i];
    Recordings recordings;
    ExchangeRecorder recorder{&recordings, 1 << 20, nullptr};
    Failure live, replayed;
    {
      FetchOutcome outcome =
          Fetch(ParsedUrl("http://site.test/c"), FetchPolicy(), Scripted({{chunks}}), &recorder);
      ASSERT_EQ(outcome.status, FetchStatus::kAnswered);
      EXPECT_EQ(outcome.headersRead, 1);
      EXPECT_EQ(ReadBody(*outcome.body), row.body);
      EXPECT_EQ(outcome.body->Complete(&live), row.whole);
    }
    ASSERT_EQ(recordings.size(), 1u);
    EXPECT_EQ(recordings[0].head, heads);
    EXPECT_EQ(recordings[0].body.Text(), raw.substr(0, recordings[0].body.size()));
    EXPECT_TRUE(recordings[0].usable);
    FetchOutcome again = Fetch(ParsedUrl("http://site.test/c"), FetchPolicy(),
                               ReplayConnector(std::make_shared<const Recordings>(std::move(recordings))));
    ASSERT_EQ(again.status, FetchStatus::kAnswered);
    EXPECT_EQ(again.headersRead, 1);
    EXPECT_EQ(ReadBody(*again.body), row.body);
    EXPECT_EQ(again.body->Complete(&replayed), row.whole);
    EXPECT_EQ(replayed.kind, live.kind);
    EXPECT_EQ(again.body->Ended(), row.whole);
  }
}

// A body of many receives is kept whole across the recording's pieces of
// memory and its spill file, draws from the budget no more than the cap and
// less than a piece past what it keeps, and is replayed byte for byte.
TEST(FetchRecording, LargeBodiesKeepEveryByteWithinTheirCap) {
  std::string body;
  for (size_t i = 0; body.size() < 300 * 1024 + 7; ++i) body += std::to_string(i) + ",";
  const std::string head = "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) +
                           "\r\nContent-Type: text/plain\r\n\r\n";
  const size_t caps[] = {1 << 20, 200 * 1024, 64 * 1024 + 1, 4096, 5};
  for (size_t cap : caps) {
    SCOPED_TRACE(cap);
    Recordings recordings;
    auto budget = std::make_shared<SharedBudget>(4u << 20);
    ExchangeRecorder recorder{&recordings, cap, budget};
    {
      FetchOutcome outcome = Fetch(ParsedUrl("http://site.test/big"), FetchPolicy(),
                                   Scripted({{{head, body}}}), &recorder);
      ASSERT_EQ(outcome.status, FetchStatus::kAnswered);
      EXPECT_EQ(ReadBody(*outcome.body), body);
    }
    ASSERT_EQ(recordings.size(), 1u);
    const size_t kept = cap < body.size() ? cap : body.size();
    EXPECT_EQ(recordings[0].body.Text(), body.substr(0, kept));
    EXPECT_LE(budget->Held(), cap);
    EXPECT_LT(budget->Held(), kept + RecordedBytes::kPiece);
    FetchOutcome again =
        Fetch(ParsedUrl("http://site.test/big"), FetchPolicy(),
              ReplayConnector(std::make_shared<const Recordings>(std::move(recordings))));
    ASSERT_EQ(again.status, FetchStatus::kAnswered);
    EXPECT_EQ(ReadBody(*again.body), body);
    again.body.reset();
    EXPECT_EQ(budget->Held(), 0u);
  }
}

}  // namespace
