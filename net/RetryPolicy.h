// RetryPolicy: whether a failed fetch is worth another request, and how long
// to wait before it.
//
// Retryable sorts failures (net/Failure.h) into passing ones, where the same
// request may well succeed a moment later, and final ones. Passing: a connect
// refused, reset, timed out or unreachable (ECONNREFUSED, ECONNRESET,
// ETIMEDOUT, EHOSTUNREACH, ENETUNREACH, EPIPE); an empty reply; a receive
// that timed out or failed; a body cut short; and the HTTP statuses 408, 429,
// 500, 502, 503 and 504. Everything else is final: a name that does not
// resolve (the resolver's codes are negative), any other connect error, TLS,
// bad URLs and framing, redirects, proxies, and every other status.
//
// RetryAfterSeconds reads a Retry-After value (RFC 9110, 10.2.3): digits
// only, a count of seconds; or an HTTP-date (RFC 9110, 5.6.7) in any of its
// three forms, IMF-fixdate ("Sun, 06 Nov 1994 08:49:37 GMT"), the obsolete
// RFC 850 form ("Sunday, 06-Nov-94 08:49:37 GMT") and asctime's ("Sun Nov  6
// 08:49:37 1994"), read as the grammar has them: case-sensitive, single
// spaces, GMT. The day must exist in its month; the day name is not checked
// against the date. A two-digit year is the year ending in those digits from
// 49 years before now's year to 50 after it, so one that would be more than
// 50 years ahead is in the century before. Blanks and tabs around the value
// are passed over. The answer is seconds from now, never negative (0 for a
// date already past), not capped: a count past 10^18 reads as 10^18, so no
// value overflows.
//
// RetryPolicy is the backoff of one crawl: how many requests a URL gets in
// all, and the wait before each one after the first. With no Retry-After the
// wait before request n + 1 (n = requests made so far) is drawn uniformly
// between half and the whole of the step min(2^(n-1), kMaxBackoffSeconds)
// seconds: 1, 2, 4, ... 32, 60, 60, ... so that many clients failing together
// do not come back together, yet each waits at least half its step. A
// Retry-After the server gave takes precedence over the step (it knows when
// it will be back), capped at kMaxRetryAfterSeconds so one answer cannot stall
// the crawl. The policy owns a copy of the generator and calls it once for
// each jittered delay; it never sleeps and is as safe to share between
// threads as that generator is.
#ifndef FERRET_NET_RETRYPOLICY_H_
#define FERRET_NET_RETRYPOLICY_H_

#include <ctime>
#include <functional>
#include <optional>
#include <string_view>

#include "net/Failure.h"

// The longest backoff step, in seconds.
constexpr double kMaxBackoffSeconds = 60;
// The longest wait a server's Retry-After obtains, in seconds.
constexpr double kMaxRetryAfterSeconds = 120;

// Whether the failure is a passing one, worth the same request again.
bool Retryable(const Failure& failure);

// Seconds to wait from now (a time_t, seconds since 1970 UTC) as the
// Retry-After value says; nullopt when it is neither delay-seconds nor an
// HTTP-date.
std::optional<double> RetryAfterSeconds(std::string_view value, std::time_t now);

class RetryPolicy {
 public:
  // tries: requests a URL gets in all, the first included; below 1 reads as
  // 1. uniform01: a value in [0, 1] each call (one outside is clamped);
  // empty, there is no jitter and each wait is the whole step.
  RetryPolicy(int tries, std::function<double()> uniform01);

  int Tries() const { return tries; }
  // Whether to make another request after attemptsMade (>= 1) have been made
  // and the last failed so: never once attemptsMade reaches Tries().
  bool ShouldRetry(int attemptsMade, const Failure& failure) const;
  // Seconds to wait before the next request after attemptsMade (read as at
  // least 1): retryAfter when given (below 0 as 0, at most
  // kMaxRetryAfterSeconds; NaN as not given), else the jittered step above.
  double DelaySeconds(int attemptsMade, std::optional<double> retryAfter) const;

 private:
  int tries;
  std::function<double()> uniform01;
};

#endif  // FERRET_NET_RETRYPOLICY_H_
