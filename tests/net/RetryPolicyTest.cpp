// The retry policy: which failures are passing, how Retry-After reads, and
// the backoff with its jitter, drawn from an injected generator.
#include <gtest/gtest.h>
#include <netdb.h>

#include <cerrno>
#include <climits>
#include <cmath>
#include <limits>
#include <set>
#include <string>

#include "net/RetryPolicy.h"

namespace {

using K = FailureKind;

Failure Make(FailureKind kind, int status = 0, int systemError = 0) {
  Failure f;
  f.kind = kind;
  f.status = status;
  f.systemError = systemError;
  return f;
}

TEST(Retryable, EveryKindStatusAndSystemError) {
  std::set<FailureKind> kinds;
  auto expect = [&](const Failure& f, bool retryable) {
    EXPECT_EQ(Retryable(f), retryable)
        << static_cast<int>(f.kind) << " status " << f.status << " error " << f.systemError;
    kinds.insert(f.kind);
  };
  for (int e : {ECONNREFUSED, ECONNRESET, ETIMEDOUT, EHOSTUNREACH, ENETUNREACH, EPIPE}) {
    expect(Make(K::kConnectFailed, 0, e), true);
  }
  for (int e : {0, EACCES, EADDRNOTAVAIL, EAI_NONAME, EAI_AGAIN}) {
    expect(Make(K::kConnectFailed, 0, e), false);
  }
  for (int s : {408, 429, 500, 502, 503, 504}) expect(Make(K::kHttpError, s), true);
  for (int s : {0, 200, 301, 400, 403, 404, 410, 501, 505}) expect(Make(K::kHttpError, s), false);
  for (K k : {K::kEmptyReply, K::kTimedOut, K::kReceiveFailed, K::kCutShort}) {
    expect(Make(k), true);
  }
  // Final whatever status or error they carry.
  for (K k : {K::kNone, K::kBadUrl, K::kUrlTooLong, K::kTlsFailed, K::kTooManyRedirects,
              K::kHeaderTooLarge, K::kBadLength, K::kConflictingLength, K::kBadChunking,
              K::kBadEncoding, K::kDecodedTooLarge, K::kTooManyInterim, K::kRedirectScheme,
              K::kProxyFailed, K::kBadProxy}) {
    expect(Make(k, 503, ECONNREFUSED), false);
  }
  // A kind added later must be sorted here too.
  EXPECT_EQ(kinds.size(), static_cast<size_t>(K::kBadProxy) + 1);
}

constexpr std::time_t kExample = 784111777;  // Sun, 06 Nov 1994 08:49:37 GMT

TEST(RetryAfterSeconds, DelaySecondsAndEachDateFormFromNow) {
  const std::string nines(400, '9');
  const std::time_t mid2024 = 1717243200;         // Sat, 01 Jun 2024 12:00:00 GMT
  const std::time_t endOf2099 = 4102444800 - 60;  // a minute before 2100
  const struct {
    const char* value;
    std::time_t now;
    double seconds;
  } rows[] = {
      {"120", 0, 120},
      {"0", 0, 0},
      {"007", 0, 7},
      {" \t5\t ", 0, 5},
      {"99999999999999999999999999", 0, 1e18},
      {nines.c_str(), 0, 1e18},
      {"Sun, 06 Nov 1994 08:49:37 GMT", kExample - 100, 100},
      {"Sunday, 06-Nov-94 08:49:37 GMT", kExample - 100, 100},
      {"Sun Nov  6 08:49:37 1994", kExample - 100, 100},
      {"Sun Nov 06 08:49:37 1994", kExample - 100, 100},
      {"Sun, 06 Nov 1994 08:49:37 GMT", kExample + 1000, 0},
      {"Sunday, 06-Nov-94 08:49:37 GMT", mid2024, 0},  // not 2094, 70 years ahead
      {"Saturday, 01-Jun-24 12:00:30 GMT", mid2024, 30},
      {"Friday, 01-Jan-00 00:00:00 GMT", endOf2099, 60},  // 2100, not 2000
      {"Sat, 29 Feb 2020 00:00:00 GMT", 1582934400 - 1, 1},
      {"Tue, 29 Feb 2000 12:00:00 GMT", 951825600 - 2, 2},
      {"Sun, 06 Nov 1994 08:49:60 GMT", kExample, 23},  // a leap second
      {"Fri, 31 Dec 9999 23:59:59 GMT", 0, 253402300799.0},
      {"Sun, 06 Nov 1994 08:49:37 GMT", std::numeric_limits<std::time_t>::max(), 0},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(RetryAfterSeconds(row.value, row.now), row.seconds) << '"' << row.value << '"';
  }
}

// Off the grammar (case, spacing, the zone, each form's own day name and
// year), or a day or time that does not exist.
TEST(RetryAfterSeconds, NeitherFormIsNothing) {
  const char* const values[] = {
      "",
      " ",
      "-5",
      "+5",
      "1.5",
      "5s",
      "1 2",
      "0x10",
      "soon",
      "sun, 06 Nov 1994 08:49:37 GMT",
      "Sun, 06 nov 1994 08:49:37 GMT",
      "Sun, 06 Nov 1994 08:49:37 UTC",
      "Sun, 06 Nov 1994 08:49:37",
      "Sun, 6 Nov 1994 08:49:37 GMT",
      "Sun,  06 Nov 1994 08:49:37 GMT",
      "Sun, 06 Nov 94 08:49:37 GMT",
      "Sun, 06 Nov 1994 8:49:37 GMT",
      "Sun, 06 Nov 1994 08:49:37 GMT x",
      "Sunday, 06 Nov 1994 08:49:37 GMT",
      "Sun, 06-Nov-94 08:49:37 GMT",
      "Sun Nov 6 08:49:37 1994",
      "Sun Nov  6 08:49:37 94",
      "Sun, 29 Feb 2021 00:00:00 GMT",
      "Sun, 29 Feb 1900 00:00:00 GMT",
      "Sun, 31 Apr 1994 00:00:00 GMT",
      "Sun, 00 Nov 1994 00:00:00 GMT",
      "Sun, 06 Nov 1994 24:00:00 GMT",
      "Sun, 06 Nov 1994 08:60:00 GMT",
      "Sun, 06 Nov 1994 08:49:61 GMT",
  };
  for (const char* value : values) {
    EXPECT_EQ(RetryAfterSeconds(value, kExample - 100), std::nullopt) << '"' << value << '"';
  }
}

TEST(RetryPolicy, RetriesPassingFailuresUntilTriesAreSpent) {
  const Failure unavailable = Make(K::kHttpError, 503);
  const struct {
    int tries, attemptsMade;
    Failure failure;
    bool retry;
  } rows[] = {
      {1, 1, unavailable, false}, {3, 1, unavailable, true},
      {3, 2, unavailable, true},  {3, 3, unavailable, false},
      {3, 4, unavailable, false}, {3, 0, unavailable, false},
      {0, 1, unavailable, false}, {3, 1, Make(K::kHttpError, 404), false},
  };
  for (const auto& row : rows) {
    const RetryPolicy policy(row.tries, [] { return 0.5; });
    EXPECT_EQ(policy.ShouldRetry(row.attemptsMade, row.failure), row.retry)
        << row.tries << " tries, " << row.attemptsMade << " made";
  }
  EXPECT_EQ(RetryPolicy(0, nullptr).Tries(), 1);
}

TEST(RetryPolicy, BackoffDoublesToItsCapWithinJitterBounds) {
  const struct {
    int attemptsMade;
    double step;
  } steps[] = {{0, 1},  {1, 1},  {2, 2},  {3, 4},   {4, 8},       {5, 16},
               {6, 32}, {7, 60}, {8, 60}, {30, 60}, {INT_MAX, 60}};
  // Where in [step/2, step] each drawn value puts the wait; [0, 1] clamps.
  const struct {
    double drawn, share;
  } draws[] = {{0, 0.5}, {0.5, 0.75}, {1, 1}, {-1, 0.5}, {7, 1}, {std::nan(""), 0.5}};
  for (const auto& draw : draws) {
    const RetryPolicy policy(5, [&] { return draw.drawn; });
    for (const auto& s : steps) {
      EXPECT_DOUBLE_EQ(policy.DelaySeconds(s.attemptsMade, std::nullopt), s.step * draw.share)
          << "after " << s.attemptsMade << ", drawn " << draw.drawn;
    }
  }
  EXPECT_DOUBLE_EQ(RetryPolicy(5, nullptr).DelaySeconds(3, std::nullopt), 4);
}

TEST(RetryPolicy, RetryAfterTakesPrecedenceUpToItsCap) {
  const struct {
    int attemptsMade;
    std::optional<double> retryAfter;
    double delay;
  } rows[] = {
      {1, 5, 5},
      {7, 5, 5},
      {1, 0, 0},
      {1, 120, 120},
      {1, 121, 120},
      {1, 1e18, 120},
      {1, -3, 0},
      {3, std::nan(""), 2},  // not given: the step of 4, drawn at 0
      {1, RetryAfterSeconds("3600", 0), 120},
      {1, RetryAfterSeconds("Sun, 06 Nov 1994 08:49:37 GMT", kExample - 30), 30},
  };
  const RetryPolicy policy(5, [] { return 0.0; });
  for (const auto& row : rows) {
    EXPECT_DOUBLE_EQ(policy.DelaySeconds(row.attemptsMade, row.retryAfter), row.delay)
        << "after " << row.attemptsMade;
  }
}

}  // namespace
