// RobotsTxt: a robots.txt file read after RFC 9309 (the Robots Exclusion
// Protocol), and the rules it sets for one crawler.
//
// Reading (Parse):
//   - at most the first kMaxRobotsBytes are read; a line the limit cuts is
//     dropped whole, so a rule is never taken from half a line;
//   - a UTF-8 byte order mark at the start is skipped; lines end with LF,
//     CR LF or CR; '#' starts a comment that runs to the line's end;
//   - a line is "name: value"; names are compared without regard to letter
//     case, white space around names and values is ignored. The names read
//     are user-agent, allow, disallow and crawl-delay (not in RFC 9309, but
//     widely written: seconds, a decimal number, fractions allowed). A line
//     of another name (sitemap, host, ...) changes nothing, not even where a
//     group ends; a line without ':' or with a value that does not read is
//     ignored as if it were not there;
//   - a group is one or more user-agent lines, then its rules (blank lines
//     may come anywhere); a user-agent line after a rule or crawl-delay line
//     starts a new group. Rules before the first user-agent line belong to no
//     group and are dropped;
//   - a user-agent line names the product token that leads its value, up to
//     the first byte not in [A-Za-z_-] ("Ferret/1.0 (+url)" names "ferret"),
//     or "*" when the value begins with '*'; any other value names nothing;
//   - an allow or disallow value is a path pattern that begins with '/' or
//     '*', or nothing (an empty rule, which matches no path); any other value
//     is ignored.
//
// Choosing (For): every group naming the crawler's token, merged into one
// set of rules; failing that, every group naming "*"; failing that, none,
// which allows everything. Tokens are compared without regard to case.
//
// Matching (Rules::Allowed): a pattern matches a path it is a prefix of,
// '*' standing for any run of bytes and a final '$' for the path's end. Of
// the rules that match, the one with the longest pattern (in bytes, after
// the normalising below, '*' and '$' counted) decides; on equal lengths
// Allow wins; with none matching the path is allowed. "/robots.txt" is
// always allowed. Before comparing, both the pattern and the path are
// normalised alike: %XX of an unreserved character (A-Z a-z 0-9 - . _ ~) is
// decoded, every other %XX has its hex digits upper-cased, a '%' not
// followed by two hex digits is written %25, and bytes a URL may not hold
// as they are (controls, space, '"', '<', '>', '\', '^', '`', '{', '|',
// '}', 0x7F and every byte above 0x7F) are written %XX. So a UTF-8 rule
// matches the percent-encoded path a request carries, and "%7e" matches
// "~". Reserved characters ('/', '?', '=', ':', ...) are compared as
// written: "%2F" and "/" differ, as they name different resources. Matching
// costs at most the path's length times the pattern's, whatever the number
// of '*'s: each literal piece between them is found leftmost, never
// retried.
//
// Values own their data; nothing here does I/O. The crawler fetches
// robots.txt and picks the rules with ForOutcome.
#ifndef FERRET_NET_ROBOTSTXT_H_
#define FERRET_NET_ROBOTSTXT_H_

#include <cstddef>
#include <map>
#include <string>
#include <string_view>
#include <vector>

// Bytes of a robots.txt body that are read; the rest is ignored.
constexpr size_t kMaxRobotsBytes = 500 * 1024;
// The largest Crawl-delay obeyed, in seconds: a larger one is taken as this,
// so that one host's file cannot stall a crawl for hours per request.
constexpr double kMaxCrawlDelaySeconds = 30;

// How the request for /robots.txt ended, after following its redirects.
enum class RobotsFetch {
  kAnswered,     // a 2xx status with a body
  kClientError,  // a 4xx status (or too many redirects): no rules apply
  kServerError,  // a 5xx status: the site may be down, so nothing is fetched
  kUnreachable,  // no answer at all (connection, TLS or timeout failure)
};

class RobotsTxt {
 public:
  // The rules one crawler obeys on one site.
  class Rules {
   public:
    // pathAndQuery is the request target ("/a/b?x=1"); empty stands for "/".
    bool Allowed(std::string_view pathAndQuery) const;
    // The group's Crawl-delay in seconds, at most kMaxCrawlDelaySeconds; of
    // merged groups that give one, the largest; 0 when none gives one.
    double CrawlDelaySeconds() const { return crawlDelay; }

   private:
    friend class RobotsTxt;
    struct Rule {
      std::string pattern;  // normalised, without the final '$'
      bool anchored;        // the pattern ended in '$'
      bool allow;
      size_t length;  // pattern's bytes, '$' included: the rule's precedence
    };
    // Adds the rule written value (non-empty, as in the file).
    void add(std::string_view value, bool allow);
    // Keeps seconds when it is larger than the delay held.
    void offerDelay(double seconds);
    // Appends other's rules and offers its delay.
    void merge(const Rules& other);
    // rule decides over best (nullptr: none yet) when both match.
    static bool outranks(const Rule& rule, const Rule* best);
    std::vector<Rule> rules;  // in file order
    double crawlDelay = 0;
  };

  // The file read from body; any body reads, an empty one as no groups.
  static RobotsTxt Parse(std::string_view body);
  // The file that stands for how the fetch of robots.txt ended: kAnswered,
  // body parsed; kClientError, no rules (everything allowed); kServerError
  // and kUnreachable, everything but /robots.txt disallowed for every token.
  static RobotsTxt ForOutcome(RobotsFetch kind, std::string_view body);

  // The rules for the crawler named productToken ("ferret"; anything after
  // its leading [A-Za-z_-] run, as in "ferret/1.0", is ignored).
  Rules For(std::string_view productToken) const;

 private:
  // What Parse carries from one line to the next.
  struct Reading {
    size_t group = kNoGroup;  // the index in groups of the group being read
    bool inRules = false;     // a rule or crawl-delay line followed the last user-agent line
  };
  static constexpr size_t kNoGroup = static_cast<size_t>(-1);
  void readLine(std::string_view line, Reading* reading);
  void readAgent(std::string_view value, Reading* reading);
  // The lines that belong to the group being read.
  enum class Member { kAllow, kDisallow, kCrawlDelay };
  // Gives value to the group being read; a value that does not read leaves
  // everything as it was.
  void readMember(Member kind, std::string_view value, Reading* reading);

  // Each group's rules once, in file order, however many tokens it names,
  // so that memory stays within the file's size; For merges a token's.
  std::vector<Rules> groups;
  // For each product token in lower case ("*" for the fallback), the
  // indices in groups of the groups naming it, in file order.
  std::map<std::string, std::vector<size_t>> byToken;
  bool disallowAll = false;
};

#endif  // FERRET_NET_ROBOTSTXT_H_
