// Fetch with a pool of kept connections, against a server on loopback that
// counts its connections: which answers let a connection serve the next
// request, what becomes of a body left unread, and a kept connection that
// the server closed while it waited. Then compressed bodies, decoded in any
// pieces, and broken ones.
#include <gtest/gtest.h>

#include <deque>
#include <iostream>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "net/ConnectionPool.h"
#include "net/HttpRequest.h"
#include "tests/support/Compressed.h"
#include "tests/support/HttpResponse.h"
#include "tests/support/ParsedUrl.h"
#include "tests/support/ScriptedServer.h"
#include "tests/support/ScriptedTransport.h"

namespace {

std::string ReadAll(ResponseBody& body) {
  std::iostream& in = body.Stream();
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The body of url, read to its end (or only its first byte, with
// firstByteOnly), through pool.
std::string FetchBody(const std::string& url, ConnectionPool* pool, bool firstByteOnly = false) {
  FetchOutcome outcome = Fetch(ParsedUrl(url), FetchPolicy(), ConnectTo, nullptr, pool);
  EXPECT_EQ(outcome.status, FetchStatus::kAnswered) << url;
  if (!outcome.body) return "";
  if (firstByteOnly) return std::string(1, static_cast<char>(outcome.body->Stream().get()));
  return ReadAll(*outcome.body);
}

size_t Distinct(const std::vector<size_t>& numbers) {
  return std::set<size_t>(numbers.begin(), numbers.end()).size();
}

std::string Chunked(const std::string& body) {
  std::string out;
  for (size_t at = 0; at < body.size(); at += 7) {
    std::string piece = body.substr(at, 7);
    char size[16];
    std::snprintf(size, sizeof size, "%zx\r\n", piece.size());
    out += size + piece + "\r\n";
  }
  return out + "0\r\n\r\n";
}

TEST(KeptConnections, WhichAnswersLetTheConnectionServeTheNext) {
  const std::string body = PseudoRandomBytes(3000, 1);
  const std::string length = "Content-Length: " + std::to_string(body.size());
  const std::string big = PseudoRandomBytes(200 * 1024, 2);
  const struct {
    const char* name;
    std::string response;
    std::string expected;
    size_t perConnection;  // what the server allows
    bool firstByteOnly;    // the reader stops after one byte
    size_t connections;    // for 6 requests
  } cases[] = {
      {"length", HttpResponse("HTTP/1.1 200 OK", {length}, body), body, 100, false, 1},
      {"chunked", HttpResponse("HTTP/1.1 200 OK", {"Transfer-Encoding: chunked"}, Chunked(body)),
       body, 100, false, 1},
      {"server closes after 3", HttpResponse("HTTP/1.1 200 OK", {length}, body), body, 3, false,
       2},
      {"Connection: close", HttpResponse("HTTP/1.1 200 OK", {length, "Connection: close"}, body),
       body, 100, false, 6},
      {"HTTP/1.0", HttpResponse("HTTP/1.0 200 OK", {length}, body), body, 100, false, 6},
      {"HTTP/1.0 keep-alive", HttpResponse("HTTP/1.0 200 OK", {length, "Connection: Keep-Alive"},
                                           body),
       body, 100, false, 1},
      {"framed by close", HttpResponse("HTTP/1.1 200 OK", {}, body), body, 1, false, 6},
      {"short body left unread is drained",
       HttpResponse("HTTP/1.1 200 OK", {length}, body), body.substr(0, 1), 100, true, 1},
      {"long body left unread closes",
       HttpResponse("HTTP/1.1 200 OK", {"Content-Length: " + std::to_string(big.size())}, big),
       big.substr(0, 1), 100, true, 6},
      {"an error status's body is drained",
       HttpResponse("HTTP/1.1 200 OK", {length}, body), body, 100, false, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedServer server;
    server.SetRequestsPerConnection(c.perConnection);
    server.SetResponse("/page", c.response);
    server.SetResponse("/missing", HttpResponse("HTTP/1.1 404 Not Found", {"Content-Length: 4"},
                                                "gone"));
    ConnectionPool pool;
    for (int i = 0; i < 6; ++i) {
      // The last case puts an error answer between each two pages.
      if (c.name == std::string("an error status's body is drained") && i % 2 == 1) {
        FetchOutcome missing =
            Fetch(ParsedUrl(server.Url("/missing")), FetchPolicy(), ConnectTo, nullptr, &pool);
        EXPECT_EQ(missing.failure.kind, FailureKind::kHttpError);
        continue;
      }
      EXPECT_EQ(FetchBody(server.Url("/page"), &pool, c.firstByteOnly), c.expected) << i;
    }
    ASSERT_TRUE(server.WaitForRequests(6));
    EXPECT_EQ(Distinct(server.RequestConnections()), c.connections);
    EXPECT_EQ(server.Accepted(), c.connections);
  }
}

// A connection to server, connected.
std::unique_ptr<SocketStreamBuf> ConnectedTo(const ScriptedServer& server) {
  auto connection = std::make_unique<SocketStreamBuf>();
  EXPECT_EQ(connection->ConnectAddress(server.Address(), server.Port()), 0);
  return connection;
}

// The pool keeps at most kMaxIdlePerServer for one server and kMaxIdle in
// all, hands each kept connection out once, newest first, and never one the
// server has closed.
TEST(KeptConnections, ThePoolKeepsWithinItsBounds) {
  ScriptedServer open;
  open.SetStallOnAccept(true);
  ConnectionPool pool;
  std::vector<SocketStreamBuf*> kept;
  for (size_t i = 0; i < kMaxIdlePerServer + 4; ++i) {
    std::unique_ptr<SocketStreamBuf> connection = ConnectedTo(open);
    kept.push_back(connection.get());
    pool.Keep("http://a:1", std::move(connection));
  }
  EXPECT_EQ(pool.Idle(), kMaxIdlePerServer);
  for (size_t i = kept.size(); i-- > 4;) {
    std::unique_ptr<SocketStreamBuf> taken = pool.Take("http://a:1");
    ASSERT_NE(taken, nullptr) << i;
    EXPECT_EQ(taken.get(), kept[i]) << "newest first";
  }
  EXPECT_EQ(pool.Take("http://a:1"), nullptr);
  for (size_t i = 0; i < kMaxIdle + 6; ++i) {
    pool.Keep("http://h" + std::to_string(i) + ":1", ConnectedTo(open));
  }
  EXPECT_EQ(pool.Idle(), kMaxIdle);
  EXPECT_EQ(pool.Take("http://h0:1"), nullptr) << "the oldest went first";
  EXPECT_NE(pool.Take("http://h" + std::to_string(kMaxIdle + 5) + ":1"), nullptr);

  ScriptedServer closing;
  closing.SetCloseOnAccept(true);
  std::unique_ptr<SocketStreamBuf> closed = ConnectedTo(closing);
  // Waits for the server's close; the connection still counts as connected.
  EXPECT_EQ(closed->sgetc(), std::char_traits<char>::eof());
  pool.Keep("http://c:1", std::move(closed));
  EXPECT_EQ(pool.Take("http://c:1"), nullptr);
}

// A kept connection that the server closes after reading the next request,
// before any byte of its answer, is replaced by a new one once: the request
// is answered. If the new one fails too, that is the failure; and one that
// fails after part of an answer came is not asked again.
TEST(KeptConnections, AKeptConnectionTheServerDroppedIsReplacedOnce) {
  const std::string answer = HttpResponse("HTTP/1.1 200 OK", {"Content-Length: 2"}, "ok");
  const struct {
    const char* name;
    std::string secondOnFirst;  // what the kept connection sends for the second request
    std::vector<std::string> fresh;  // scripted answers of the connections made after
    FailureKind failure;
    size_t accepted;
  } cases[] = {
      {"replaced", "", {answer}, FailureKind::kNone, 2},
      {"replacement fails too", "", {""}, FailureKind::kEmptyReply, 2},
      {"part of an answer came", "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\no", {answer},
       FailureKind::kCutShort, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedServer server;
    ConnectionScript first;
    first.ReceiveOnce().Send(answer).ReceiveOnce().Send(c.secondOnFirst).Close();
    server.AddScript(first);
    for (const std::string& fresh : c.fresh) {
      ConnectionScript next;
      next.ReceiveOnce().Send(fresh).Close();
      server.AddScript(next);
    }
    ConnectionPool pool;
    EXPECT_EQ(FetchBody(server.Url("/a"), &pool), "ok");
    ASSERT_EQ(pool.Idle(), 1u);
    FetchOutcome second = Fetch(ParsedUrl(server.Url("/b")), FetchPolicy(), ConnectTo, nullptr,
                                &pool);
    if (c.failure == FailureKind::kNone) {
      ASSERT_EQ(second.status, FetchStatus::kAnswered);
      EXPECT_EQ(ReadAll(*second.body), "ok");
    } else if (second.body) {
      ReadAll(*second.body);
      Failure failure;
      EXPECT_FALSE(second.body->Complete(&failure));
      EXPECT_EQ(failure.kind, c.failure);
    } else {
      EXPECT_EQ(second.failure.kind, c.failure);
    }
    EXPECT_EQ(server.Accepted(), c.accepted);
  }
}

// A connection scripted to deliver bytes in two receives split at `at`.
Connector SplitAt(const std::string& bytes, size_t at) {
  return [bytes, at](SocketStreamBuf& connection, const Url&, Failure*) {
    auto transport = std::make_unique<ScriptedTransport>(std::make_shared<TransportLog>());
    if (at > 0) transport->Deliver(bytes.substr(0, at));
    if (at < bytes.size()) transport->Deliver(bytes.substr(at));
    connection.UseTransport(std::move(transport));
    return true;
  };
}

// Each coding, framed by length or by chunks, comes back as the resource's
// bytes wherever the receives split it, through the stream and the pieces
// alike; a gzip file served gzip-encoded keeps its bytes; a coding not
// asked for is left as sent.
TEST(CompressedBodies, DecodedWhereverTheBytesSplit) {
  const std::string page = "<html><a href=\"a.html\">ferret</a>\n" + PseudoRandomBytes(300, 3);
  const struct {
    const char* name;
    const char* url;
    std::vector<std::string> fields;
    std::string encoded;
    std::string expected;
  } cases[] = {
      {"gzip", "http://h.test/p.html", {"Content-Encoding: gzip"}, Gzipped(page), page},
      {"x-gzip", "http://h.test/p.html", {"Content-Encoding: x-gzip"}, Gzipped(page), page},
      {"deflate (zlib)", "http://h.test/p", {"Content-Encoding: deflate"}, Deflated(page, 15),
       page},
      {"deflate (raw)", "http://h.test/p", {"Content-Encoding: deflate"}, Deflated(page, -15),
       page},
      {"br", "http://h.test/p", {"Content-Encoding: br"}, Brotlied(page), page},
      {"a .gz file", "http://h.test/f.tar.gz", {"Content-Encoding: gzip"}, Gzipped(page),
       Gzipped(page)},
      {"a gzip type", "http://h.test/f", {"Content-Encoding: gzip", "Content-Type: application/gzip"},
       Gzipped(page), Gzipped(page)},
      {"an unknown coding", "http://h.test/p", {"Content-Encoding: zz"}, page, page},
  };
  for (const auto& c : cases) {
    for (bool chunked : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (chunked ? " chunked" : ""));
      std::vector<std::string> fields = c.fields;
      fields.push_back(chunked ? "Transfer-Encoding: chunked"
                               : "Content-Length: " + std::to_string(c.encoded.size()));
      const std::string response =
          HttpResponse("HTTP/1.1 200 OK", fields, chunked ? Chunked(c.encoded) : c.encoded);
      for (size_t at = 0; at <= response.size(); ++at) {
        FetchOutcome outcome = Fetch(ParsedUrl(c.url), FetchPolicy(), SplitAt(response, at));
        ASSERT_EQ(outcome.status, FetchStatus::kAnswered) << at;
        std::string got;
        if (at % 2 == 0) {
          got = ReadAll(*outcome.body);
        } else {
          for (std::string_view piece; !(piece = outcome.body->NextPiece()).empty();) {
            got.append(piece.data(), piece.size());
            outcome.body->ConsumePiece(piece.size());
          }
        }
        ASSERT_EQ(got, c.expected) << at;
        Failure failure;
        EXPECT_TRUE(outcome.body->Complete(&failure)) << at << " " << static_cast<int>(failure.kind);
      }
    }
  }
}

// A stream that does not decode, that ends before its end, or that decodes
// past the bounds is a failure of the body, whatever came before it.
TEST(CompressedBodies, BrokenOrBoundlessStreamsFail) {
  const std::string page = PseudoRandomBytes(5000, 4);
  std::string corrupt = Gzipped(page);
  corrupt[corrupt.size() / 2] ^= 0x55;
  const std::string gzip = Gzipped(page);
  const std::string bomb = GzippedZeros(64 << 20);  // 64 MiB in about 64 KiB
  const struct {
    const char* name;
    std::string coding;
    std::string encoded;
    FailureKind failure;
  } cases[] = {
      {"corrupt", "gzip", corrupt, FailureKind::kBadEncoding},
      {"cut before its end", "gzip", gzip.substr(0, gzip.size() - 9), FailureKind::kBadEncoding},
      {"not brotli", "br", page, FailureKind::kBadEncoding},
      {"a bomb", "gzip", bomb, FailureKind::kDecodedTooLarge},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string response = HttpResponse(
        "HTTP/1.1 200 OK",
        {"Content-Encoding: " + c.coding, "Content-Length: " + std::to_string(c.encoded.size())},
        c.encoded);
    FetchOutcome outcome =
        Fetch(ParsedUrl("http://h.test/p"), FetchPolicy(), SplitAt(response, response.size()));
    ASSERT_EQ(outcome.status, FetchStatus::kAnswered);
    unsigned long long got = 0;
    while (outcome.body->Connected()) {
      std::string_view piece = outcome.body->NextPiece();
      if (piece.empty()) break;
      got += piece.size();
      outcome.body->ConsumePiece(piece.size());
    }
    Failure failure;
    EXPECT_FALSE(outcome.body->Complete(&failure));
    EXPECT_EQ(failure.kind, c.failure);
    EXPECT_LE(got, kMaxDecodedRatio * c.encoded.size() + kDecodedSlack);
  }
}

}  // namespace
