// Fetch over scripted connections: the request it sends, failures as data,
// framed bodies, the connection a body gives back, and the recording and
// replay of each exchange.
#include <gtest/gtest.h>

#include <cerrno>
#include <deque>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "net/HttpRequest.h"
#include "net/RecordedExchange.h"
#include "tests/support/Loopback.h"
#include "tests/support/ScriptedTransport.h"
#include "tests/support/ParsedUrl.h"

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

// Host names the port only when it is not the scheme's default.
TEST(HttpRequestHostField, PortOnlyWhenNotTheDefault) {
  const struct {
    const char* url;
    const char* host;
  } cases[] = {
      {"http://site.test/a", "site.test"},
      {"http://site.test:80/a", "site.test"},
      {"site.test:8080/a", "site.test:8080"},
      {"http://Site.Test:443/", "Site.Test:443"},
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
    std::string expected = std::string("\r\nHost: ") + c.host + "\r\n";
    EXPECT_NE(log->sent.find(expected), std::string::npos) << c.url << ": " << log->sent;
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

// The body stops at its length; what follows stays on the connection, which
// the body hands back.
TEST(FetchBody, FramedBodyLeavesTheConnectionForTheNextExchange) {
  FetchOutcome outcome = Fetch(ParsedUrl(
      "http://site.test/"), FetchPolicy(),
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
  ExchangeRecorder recorder{&recordings, 1 << 20};
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
  EXPECT_EQ(recordings[0].body, "");
  EXPECT_EQ(std::string(recordings[1].url), "http://site.test/b.bin");
  EXPECT_EQ(recordings[1].head, head);
  EXPECT_EQ(recordings[1].body, "01234");  // the body as framed, nothing after it
  EXPECT_TRUE(recordings[1].usable);

  auto shared = std::make_shared<const Recordings>(recordings);
  FetchOutcome replayed = Fetch(ParsedUrl("http://site.test/a"), FetchPolicy(), ReplayConnector(shared));
  ASSERT_EQ(replayed.status, FetchStatus::kAnswered);
  EXPECT_EQ(std::string(replayed.url.Text()), "http://site.test/b.bin");
  EXPECT_EQ(replayed.headersRead, 2);
  EXPECT_EQ(ReadBody(*replayed.body), "01234");
  EXPECT_TRUE(replayed.body->Ended());

  // A failed receive is replayed as the same failure.
  Recordings failed;
  ExchangeRecorder failing{&failed, 1 << 20};
  {
    FetchOutcome outcome = Fetch(ParsedUrl("http://site.test/c"), FetchPolicy(),
                                 Scripted({{{"HTTP/1.0 200 OK\r\n\r\nab"}, ECONNRESET}}), &failing);
    ReadBody(*outcome.body);
  }
  ASSERT_EQ(failed.size(), 1u);
  EXPECT_EQ(failed[0].endError, ECONNRESET);
  FetchOutcome again = Fetch(ParsedUrl("http://site.test/c"), FetchPolicy(),
                             ReplayConnector(std::make_shared<const Recordings>(failed)));
  ASSERT_EQ(again.status, FetchStatus::kAnswered);
  EXPECT_EQ(ReadBody(*again.body), "ab");
  Failure failure;
  EXPECT_FALSE(again.body->Complete(&failure));
  EXPECT_EQ(failure.kind, FailureKind::kReceiveFailed);
  EXPECT_EQ(failure.systemError, ECONNRESET);
}

}  // namespace
