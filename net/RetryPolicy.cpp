#include "net/RetryPolicy.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <utility>

namespace {

constexpr int kRetryableErrors[] = {ECONNREFUSED, ECONNRESET,  ETIMEDOUT,
                                    EHOSTUNREACH, ENETUNREACH, EPIPE};
constexpr int kRetryableStatuses[] = {408, 429, 500, 502, 503, 504};

template <typename Table>
bool Lists(const Table& table, int value) {
  return std::find(std::begin(table), std::end(table), value) != std::end(table);
}

// Counts past this read as it, so that no count of digits overflows.
constexpr double kMostDelaySeconds = 1e18;

constexpr std::string_view kDayNames[] = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
constexpr std::string_view kLongDayNames[] = {"Monday", "Tuesday",  "Wednesday", "Thursday",
                                              "Friday", "Saturday", "Sunday"};
constexpr std::string_view kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
// Days before each month's first in a common year.
constexpr int kDaysBefore[] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
// Days from 0000-01-01 to 1970-01-01, proleptic Gregorian.
constexpr long long kEpochDays = 719528;

struct DateTime {
  int year = 0;
  int month = 0;  // 1 to 12
  int day = 0;
  int hour = 0;
  int minute = 0;
  int second = 0;  // up to 60, a leap second
};

// A cursor over the value; every step either consumes what it names or
// fails, and a failed read is abandoned whole.
struct Reader {
  std::string_view text;

  bool Take(std::string_view literal) {
    if (text.substr(0, literal.size()) != literal) return false;
    text.remove_prefix(literal.size());
    return true;
  }
  // Exactly count digits.
  bool Digits(int count, int* value) {
    if (text.size() < static_cast<size_t>(count)) return false;
    int read = 0;
    for (int i = 0; i < count; ++i) {
      if (text[i] < '0' || text[i] > '9') return false;
      read = read * 10 + (text[i] - '0');
    }
    text.remove_prefix(count);
    *value = read;
    return true;
  }
  // One of names, whole; *index is its place.
  template <typename Names>
  bool OneOf(const Names& names, int* index) {
    for (size_t i = 0; i < std::size(names); ++i) {
      if (Take(names[i])) {
        *index = static_cast<int>(i);
        return true;
      }
    }
    return false;
  }
  bool Ended() const { return text.empty(); }
};

bool Leap(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysIn(int year, int month) {
  constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return kDays[month - 1] + (month == 2 && Leap(year) ? 1 : 0);
}

// Leap years in [0, year) for year >= 0, year 0 among them.
long long LeapsBefore(long long year) {
  return (year + 3) / 4 - (year + 99) / 100 + (year + 399) / 400;
}

long long DaysSinceEpoch(const DateTime& t) {
  const int leapDay = t.month > 2 && Leap(t.year) ? 1 : 0;
  return 365LL * t.year + LeapsBefore(t.year) - kEpochDays + kDaysBefore[t.month - 1] + leapDay +
         t.day - 1;
}

long long SecondsSinceEpoch(const DateTime& t) {
  return ((DaysSinceEpoch(t) * 24 + t.hour) * 60 + t.minute) * 60 + t.second;
}

bool Valid(const DateTime& t) {
  return t.day >= 1 && t.day <= DaysIn(t.year, t.month) && t.hour <= 23 && t.minute <= 59 &&
         t.second <= 60;
}

// time-of-day: hh ":" mm ":" ss
bool ReadTime(Reader& in, DateTime* t) {
  return in.Digits(2, &t->hour) && in.Take(":") && in.Digits(2, &t->minute) && in.Take(":") &&
         in.Digits(2, &t->second);
}

bool ReadMonth(Reader& in, DateTime* t) {
  int index = 0;
  if (!in.OneOf(kMonths, &index)) return false;
  t->month = index + 1;
  return true;
}

// IMF-fixdate: "Sun, 06 Nov 1994 08:49:37 GMT"
bool ReadImfFixdate(std::string_view value, DateTime* t) {
  Reader in{value};
  int ignored = 0;
  return in.OneOf(kDayNames, &ignored) && in.Take(", ") && in.Digits(2, &t->day) && in.Take(" ") &&
         ReadMonth(in, t) && in.Take(" ") && in.Digits(4, &t->year) && in.Take(" ") &&
         ReadTime(in, t) && in.Take(" GMT") && in.Ended();
}

// The year from 49 before nowYear to 50 after it that ends in the two digits.
int WindowYear(int twoDigits, int nowYear) {
  int year = nowYear - nowYear % 100 + twoDigits;
  if (year > nowYear + 50) year -= 100;
  if (year <= nowYear - 50) year += 100;
  return year;
}

// rfc850-date: "Sunday, 06-Nov-94 08:49:37 GMT"
bool ReadRfc850(std::string_view value, int nowYear, DateTime* t) {
  Reader in{value};
  int ignored = 0;
  int twoDigits = 0;
  if (!(in.OneOf(kLongDayNames, &ignored) && in.Take(", ") && in.Digits(2, &t->day) &&
        in.Take("-") && ReadMonth(in, t) && in.Take("-") && in.Digits(2, &twoDigits) &&
        in.Take(" ") && ReadTime(in, t) && in.Take(" GMT") && in.Ended())) {
    return false;
  }
  t->year = WindowYear(twoDigits, nowYear);
  return true;
}

// The day of asctime's date: two digits, or a space and one.
bool ReadAsctimeDay(Reader& in, DateTime* t) {
  return in.Take(" ") ? in.Digits(1, &t->day) : in.Digits(2, &t->day);
}

// asctime-date: "Sun Nov  6 08:49:37 1994"
bool ReadAsctime(std::string_view value, DateTime* t) {
  Reader in{value};
  int ignored = 0;
  return in.OneOf(kDayNames, &ignored) && in.Take(" ") && ReadMonth(in, t) && in.Take(" ") &&
         ReadAsctimeDay(in, t) && in.Take(" ") && ReadTime(in, t) && in.Take(" ") &&
         in.Digits(4, &t->year) && in.Ended();
}

std::optional<int> YearOf(std::time_t now) {
  std::tm parts{};
  if (gmtime_r(&now, &parts) == nullptr) return std::nullopt;
  return parts.tm_year + 1900;
}

bool ReadHttpDate(std::string_view value, std::time_t now, DateTime* t) {
  if (ReadImfFixdate(value, t) || ReadAsctime(value, t)) return true;
  const std::optional<int> nowYear = YearOf(now);
  return nowYear && ReadRfc850(value, *nowYear, t);
}

std::optional<double> DelaySecondsValue(std::string_view value) {
  if (value.empty()) return std::nullopt;
  double seconds = 0;
  for (char c : value) {
    if (c < '0' || c > '9') return std::nullopt;
    seconds = std::min(seconds * 10 + (c - '0'), kMostDelaySeconds);
  }
  return seconds;
}

std::string_view Trimmed(std::string_view value) {
  const size_t first = value.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  return value.substr(first, value.find_last_not_of(" \t") - first + 1);
}

// The step before jitter: 1 s doubled for each request after the first, at
// most kMaxBackoffSeconds.
double BackoffStep(int attemptsMade) {
  // Six doublings already pass the cap; more would only risk the exponent.
  const int doublings = std::clamp(attemptsMade - 1, 0, 6);
  return std::min(std::ldexp(1.0, doublings), kMaxBackoffSeconds);
}

double UnitInterval(double drawn) {
  if (!(drawn >= 0)) return 0;  // NaN too
  return std::min(drawn, 1.0);
}

}  // namespace

bool Retryable(const Failure& failure) {
  switch (failure.kind) {
    case FailureKind::kConnectFailed: return Lists(kRetryableErrors, failure.systemError);
    case FailureKind::kHttpError: return Lists(kRetryableStatuses, failure.status);
    case FailureKind::kEmptyReply:
    case FailureKind::kTimedOut:
    case FailureKind::kReceiveFailed:
    case FailureKind::kCutShort: return true;
    default: return false;
  }
}

std::optional<double> RetryAfterSeconds(std::string_view value, std::time_t now) {
  value = Trimmed(value);
  if (std::optional<double> seconds = DelaySecondsValue(value)) return seconds;
  DateTime when;
  if (!ReadHttpDate(value, now, &when) || !Valid(when)) return std::nullopt;
  // In doubles: a time_t near its limits must not overflow the difference.
  const double ahead = static_cast<double>(SecondsSinceEpoch(when)) - static_cast<double>(now);
  return std::max(ahead, 0.0);
}

RetryPolicy::RetryPolicy(int tries, std::function<double()> uniform01)
    : tries(std::max(tries, 1)), uniform01(std::move(uniform01)) {}

bool RetryPolicy::ShouldRetry(int attemptsMade, const Failure& failure) const {
  return attemptsMade >= 1 && attemptsMade < tries && Retryable(failure);
}

double RetryPolicy::DelaySeconds(int attemptsMade, std::optional<double> retryAfter) const {
  if (retryAfter && !std::isnan(*retryAfter)) {
    return std::clamp(*retryAfter, 0.0, kMaxRetryAfterSeconds);
  }
  const double step = BackoffStep(attemptsMade);
  const double drawn = uniform01 ? UnitInterval(uniform01()) : 1.0;
  return step / 2 + step / 2 * drawn;
}
