#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "app/TextReporter.h"
#include "net/Url.h"
#include "tests/common/Subprocess.h"
#include "tests/support/Loopback.h"

namespace {

struct Parsed {
  int result;
  Options options;
  std::string url;
  std::string out;
  std::string err;
};

Parsed Parse(std::vector<const char*> args) {
  args.insert(args.begin(), "ferret");
  Options options;
  CStr url;
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  int result = ParseCommandLine(static_cast<int>(args.size()), args.data(), options, url);
  std::string out = testing::internal::GetCapturedStdout();
  std::string err = testing::internal::GetCapturedStderr();
  return {result, options, std::string(url), out, err};
}

struct Expected {
  const char* keyword;
  const char* filespec;
  int depth, print, download, create, confine, stat;
};

struct SettingsCase {
  std::vector<const char*> args;
  Expected want;
};

TEST(CommandLine, ImpliedActionsAndDefaultPatterns) {
  const SettingsCase cases[] = {
      // URL alone: both patterns ".", nothing implied.
      {{"http://h/"}, {".", ".", 0, 0, 0, 0, 0, 0}},
      // A keyword implies print and defaults filespec to ".".
      {{"http://h/", "-k", "foo"}, {"foo", ".", 0, 1, 0, 0, 0, 0}},
      // "*" still implies print (non-empty), then both become ".".
      {{"http://h/", "-k", "*"}, {".", ".", 0, 1, 0, 0, 0, 0}},
      // A filespec implies download; the keyword stays empty.
      {{"http://h/", "-f", "zip", "-d", "1"}, {"", "zip", 1, 0, 1, 0, 0, 0}},
      {{"http://h/", "-f", "*"}, {"", ".", 0, 0, 1, 0, 0, 0}},
      // Any of stat, download, print given: nothing implied.
      {{"http://h/", "-stat", "-k", "foo"}, {"foo", ".", 0, 0, 0, 0, 0, 1}},
      {{"http://h/", "-print", "-f", "gif"}, {"", "gif", 0, 1, 0, 0, 0, 0}},
      {{"http://h/", "-download"}, {".", ".", 0, 0, 1, 0, 0, 0}},
      // -create implies download by itself.
      {{"http://h/", "-create"}, {".", ".", 0, 0, 1, 1, 0, 0}},
      {{"http://h/", "-confine", "-k", "x"}, {"x", ".", 0, 1, 0, 0, 1, 0}},
      // Both patterns given: kept, and each implies its action.
      {{"http://h/", "-k", "a", "-f", "b"}, {"a", "b", 0, 1, 1, 0, 0, 0}},
      // Letter case of option names does not count.
      {{"http://h/", "-Stat", "-K", "w", "-D", "3", "-PRINT"}, {"w", ".", 3, 1, 0, 0, 0, 1}},
      // Depth read as atoi does; negative kept (behaves as 0 when crawling).
      {{"http://h/", "-d", "abc"}, {".", ".", 0, 0, 0, 0, 0, 0}},
      {{"http://h/", "-d", "-3"}, {".", ".", -3, 0, 0, 0, 0, 0}},
      {{"http://h/", "-d", "7x"}, {".", ".", 7, 0, 0, 0, 0, 0}},
      {{"http://h/", "-d", "99999999999"}, {".", ".", 2147483647, 0, 0, 0, 0, 0}},
      // Repeats: the last value wins; a value may look like an option.
      {{"http://h/", "-k", "a", "-k", "b"}, {"b", ".", 0, 1, 0, 0, 0, 0}},
      {{"http://h/", "-k", "-print"}, {"-print", ".", 0, 1, 0, 0, 0, 0}},
      {{"http://h/", "-stat", "-stat"}, {".", ".", 0, 0, 0, 0, 0, 1}},
  };
  for (const SettingsCase& c : cases) {
    std::string label;
    for (const char* a : c.args) label += std::string(a) + " ";
    Parsed p = Parse(c.args);
    ASSERT_EQ(p.result, 0) << label;
    EXPECT_EQ(p.url, c.args[0]) << label;
    EXPECT_EQ(p.out, "") << label;
    const Options& s = p.options;
    EXPECT_STREQ(s.keyword, c.want.keyword) << label;
    EXPECT_STREQ(s.filespec, c.want.filespec) << label;
    EXPECT_EQ(s.depth, c.want.depth) << label;
    EXPECT_EQ(s.print, c.want.print) << label;
    EXPECT_EQ(s.download, c.want.download) << label;
    EXPECT_EQ(s.create, c.want.create) << label;
    EXPECT_EQ(s.confine, c.want.confine) << label;
    EXPECT_EQ(s.stat, c.want.stat) << label;
  }
}

// Each refusal says what is wrong in one line on standard error; nothing
// goes to standard output and no URL is kept.
TEST(CommandLine, ArgumentErrorsSayWhatIsWrong) {
  const char* kShardRange = "-shard must be K/N, N from 1 to 65536 and K from 0 to N-1";
  const std::string longest(kMaxUrlLength, 'k');
  const std::string tooLong(kMaxUrlLength + 1, 'k');
  const std::string huge(70000, 'k');
  const struct {
    std::vector<const char*> args;
    const char* message;
  } cases[] = {
      {{"http://h/", "-x"}, "unknown option -x; see --help"},
      {{"http://h/", "--stat"}, "unknown option --stat; see --help"},
      {{"http://h/", "-printer"}, "unknown option -printer; see --help"},
      {{"http://h/", "-"}, "unknown option -; see --help"},
      {{"http://h/", "-stat", "extra"}, "unexpected argument extra; see --help"},
      {{"http://h/", "http://other/"}, "unexpected argument http://other/; see --help"},
      // A value option given last, in any letter case.
      {{"http://h/", "-d"}, "-d needs a value"},
      {{"http://h/", "-k", "a", "-f"}, "-f needs a value"},
      {{"http://h/", "-K"}, "-k needs a value"},
      {{"http://h/", "-stat", "-timeout"}, "-timeout needs a value"},
      {{"http://h/", "-j"}, "-j needs a value"},
      // Values out of range, or not whole numbers.
      {{"http://h/", "-j", "0"}, "-j must be 1 to 64"},
      {{"http://h/", "-j", "65"}, "-j must be 1 to 64"},
      {{"http://h/", "-J", "8x"}, "-j must be 1 to 64"},
      {{"http://h/", "-timeout", "0"}, "-timeout must be 1 to 86400"},
      {{"http://h/", "-timeout", "86401"}, "-timeout must be 1 to 86400"},
      {{"http://h/", "-timeout", "1.5"}, "-timeout must be 1 to 86400"},
      {{"http://h/", "-maxpages", "0"}, "-maxpages must be 1 to 1000000000"},
      {{"http://h/", "-maxpages", "1000000001"}, "-maxpages must be 1 to 1000000000"},
      {{"http://h/", "-maxpages", "5x"}, "-maxpages must be 1 to 1000000000"},
      {{"http://h/", "-accept"}, "-accept needs a value"},
      {{"http://h/", "-tries", "0"}, "-tries must be 1 to 100"},
      {{"http://h/", "-wait", "-1"}, "-wait must be 0 to 3600 seconds"},
      {{"http://h/", "-wait", "1e3"}, "-wait must be 0 to 3600 seconds"},
      {{"http://h/", "-wait", "3600.5"}, "-wait must be 0 to 3600 seconds"},
      {{"http://h/", "-wait", "."}, "-wait must be 0 to 3600 seconds"},
      {{"http://h/", "-perhost", "0"}, "-perhost must be 1 to 64"},
      {{"http://h/", "-tries", "101"}, "-tries must be 1 to 100"},
      // -show's count is the next word when it begins with a digit.
      {{"http://h/", "-show", "0"}, "-show must be 1 to 100"},
      {{"http://h/", "-show", "101", "-k", "a"}, "-show must be 1 to 100"},
      {{"http://h/", "-show", "3x"}, "-show must be 1 to 100"},
      {{"http://h/", "-show", "x3"}, "unexpected argument x3; see --help"},
      // What would break the request, or smuggle a line into it.
      {{"http://h/", "-agent", ""}, "-agent must be one line of text"},
      {{"http://h/", "-agent", "a\r\nX-Evil: 1"}, "-agent must be one line of text"},
      {{"http://h/", "-header", "Cookie id=1"}, "-header must be \"Name: value\" on one line"},
      {{"http://h/", "-header", ": v"}, "-header must be \"Name: value\" on one line"},
      {{"http://h/", "-header", "Bad Name: v"}, "-header must be \"Name: value\" on one line"},
      {{"http://h/", "-header", "X: a\nGET / HTTP/1.1"},
       "-header must be \"Name: value\" on one line"},
      {{"http://h/", "-header", "host: other"}, "-header cannot set host"},
      {{"http://h/", "-header", "Accept-Encoding: identity"}, "-header cannot set Accept-Encoding"},
      {{"http://h/", "-header", "X: 1", "-header"}, "-header needs a value"},
      // A first argument beginning with '-' is never taken for a URL.
      {{"-x", "-stat"}, "the URL must come first; see --help"},
      {{"--helpme"}, "the URL must come first; see --help"},
      {{"-", "-k", "a"}, "the URL must come first; see --help"},
      {{"-d", "3", "http://h/"}, "the URL must come first; see --help"},
      // -i FILE stands in the URL's place; -shard's value is K/N, and its
      // outlinks are JSON events.
      {{"-i"}, "-i needs a value"},
      {{"-i", "list", "http://h/"}, "unexpected argument http://h/; see --help"},
      {{"http://h/", "-i", "list"}, "-i FILE comes first, in place of the URL"},
      {{"http://h/", "-shard", "1/4"}, "-shard needs -json"},
      {{"-I", "-", "-shard", "0/1", "-stat"}, "-shard needs -json"},
      {{"http://h/", "-json", "-shard", "4/4"}, kShardRange},
      {{"http://h/", "-json", "-shard", "1/0"}, kShardRange},
      {{"http://h/", "-json", "-shard", "/4"}, kShardRange},
      {{"http://h/", "-json", "-shard", "1/4x"}, kShardRange},
      {{"http://h/", "-json", "-shard", "-1/4"}, kShardRange},
      {{"http://h/", "-json", "-shard", "1/65537"}, kShardRange},
      {{"http://h/", "-json", "-shard"}, "-shard needs a value"},
      // Past what a URL may be, wherever it stands: refused, not fatal.
      {{tooLong.c_str()}, "argument too long (8193 characters)"},
      {{"h", "-k", huge.c_str()}, "argument too long (70000 characters)"},
      {{"h", "-stat", "-k", huge.c_str(), "-x"}, "argument too long (70000 characters)"},
  };
  for (const auto& c : cases) {
    Parsed p = Parse(c.args);
    EXPECT_EQ(p.result, -1) << c.message;
    EXPECT_EQ(p.err, std::string("ferret: ") + c.message + "\n");
    EXPECT_EQ(p.out, "") << c.message;
    EXPECT_EQ(p.url, "") << c.message;
  }
  // The bounds themselves are accepted.
  const std::vector<const char*> accepted[] = {
      {longest.c_str()},
      {"http://h/", "-k", longest.c_str()},
      {"http://h/", "-j", "1", "-j", "64", "-timeout", "1", "-timeout", "86400"},
      {"http://h/", "-agent", "Probe/2 (+mailto:a@b)", "-header", "Cookie: a=1; b=2", "-HEADER",
       "X-Token:"},
      {"http://h/", "-noparent", "-accept", "a", "-Accept", "b", "-reject", "c", "-maxpages",
       "1000000000"},
      {"http://h/", "-show", "-k", "a"},
      {"http://h/", "-k", "5", "-SHOW", "100"},
      {"-i", "starts.txt", "-d", "2", "-json", "-Shard", "65535/65536"},
  };
  for (const auto& args : accepted) {
    Parsed p = Parse(args);
    EXPECT_EQ(p.result, 0) << p.err;
    EXPECT_EQ(p.out + p.err, "");
  }
  Parsed bounds = Parse(accepted[2]);
  EXPECT_EQ(bounds.options.jobs, 64);
  EXPECT_EQ(bounds.options.timeout, 86400);
  Parsed identity = Parse(accepted[3]);
  EXPECT_EQ(identity.options.agent, "Probe/2 (+mailto:a@b)");
  EXPECT_EQ(identity.options.headers, (std::vector<std::string>{"Cookie: a=1; b=2", "X-Token:"}));
  Parsed scope = Parse(accepted[4]);
  EXPECT_EQ(scope.options.noparent, 1);
  EXPECT_EQ(scope.options.accept.size(), 2u);
  EXPECT_EQ(scope.options.reject.size(), 1u);
  EXPECT_EQ(scope.options.maxPages, 1000000000);
  EXPECT_EQ(Parse(accepted[5]).options.show, 5);
  EXPECT_EQ(Parse(accepted[6]).options.show, 100);
  Parsed list = Parse(accepted[7]);
  EXPECT_EQ(list.options.startList, "starts.txt");
  EXPECT_EQ(list.url, "");
  EXPECT_EQ(list.options.depth, 2);
  EXPECT_EQ(list.options.shard, 65535);
  EXPECT_EQ(list.options.shards, 65536);
  EXPECT_EQ(Parse({"http://h/", "-json", "-shard", "0/1"}).options.shards, 1);
}

TEST(CommandLine, CountersLine) {
  const struct {
    int saves, prints, hits, http200, errors;
    const char* line;
  } cases[] = {
      {0, 0, 0, 0, 0, "Saves(0) Prints(0) Hits(0) HTTP 200(0%) Errors(0)\n"},
      {2, 5, 4, 3, 1, "Saves(2) Prints(5) Hits(4) HTTP 200(75%) Errors(1)\n"},
      {0, 0, 3, 2, 0, "Saves(0) Prints(0) Hits(3) HTTP 200(66%) Errors(0)\n"},
      {1, 1, 7, 7, 12, "Saves(1) Prints(1) Hits(7) HTTP 200(100%) Errors(12)\n"},
  };
  for (const auto& c : cases) {
    Counters counts;
    counts.saves = c.saves;
    counts.prints = c.prints;
    counts.hits = c.hits;
    counts.http200 = c.http200;
    counts.errors = c.errors;
    EXPECT_EQ(std::string(TextReporter::CountersLine(counts)) + "\n", c.line);
  }
}

// Every line the reporter writes from a URL reaches the terminal with no
// byte that could control it; well-formed UTF-8 that is no control stays.
TEST(TextReporter, ControlBytesInPrintedUrlsAreEscaped) {
  const struct {
    const char* url;
    const char* shown;
  } rows[] = {
      {"h/a\x9B[31mb", "h/a%9B[31mb"},                           // C1 CSI, raw
      {"h/a\xC2\x9B[31mb", "h/a%C2%9B[31mb"},                    // C1 CSI in UTF-8
      {"h/\xC2\x80\xC2\x9F\xC2\xA0", "h/%C2%80%C2%9F\xC2\xA0"},  // the C1 range's ends
      {"h/\x1B]0;t\x07\x7F\x01", "h/%1B]0;t%07%7F%01"},          // C0 and DEL
      {"h/caf\xC3\xA9/\xE2\x80\x9B/\xF0\x9F\x98\x80",
       "h/caf\xC3\xA9/\xE2\x80\x9B/\xF0\x9F\x98\x80"},
      // A continuation byte outside a well-formed sequence is a raw C1 byte.
      {"h/\xE2\x9B", "h/\xE2%9B"},
      {"h/\xC0\x9B", "h/\xC0%9B"},                // overlong
      {"h/\xED\xA0\x80", "h/\xED\xA0%80"},        // a surrogate
      {"h/\xF4\x90\x80\x80", "h/\xF4%90%80%80"},  // past U+10FFFF
      {"h/\xA0\xFF\xC2", "h/\xA0\xFF\xC2"},       // no control, kept
  };
  for (const auto& row : rows) {
    TextReporter reporter;
    Failure failure;
    failure.kind = FailureKind::kHttpError;
    failure.status = 404;
    failure.url = row.url;
    testing::internal::CaptureStdout();
    reporter.Printed(row.url);
    reporter.Saved(row.url, "f\x9B");
    reporter.Failed(failure);
    std::string out = testing::internal::GetCapturedStdout();
    std::string shown = row.shown;
    EXPECT_EQ(out, shown + "\nSaving " + shown + " as f%9B\nHTTP 404 at " + shown + "\n")
        << row.shown;
  }
}

const char kUsage[] =
    "ferret " FERRET_VERSION
    "\n"
    "FORMAT: ferret url [-k keyword] [-f filespec] [-d depth] [-print]\n"
    "                   [-download] [-create] [-confine] [-stat]\n"
    "                   [-timeout S] [-once] [-j N] [-html] [-text]\n"
    "                   [-noparent] [-accept REGEX]... [-reject REGEX]...\n"
    "                   [-maxpages N] [-tries N] [-robots] [-wait S]\n"
    "                   [-perhost N] [-agent TEXT]\n"
    "                   [-header \"Name: value\"]... [-warc FILE] [-show [N]] [-json]\n"
    "                   [-i FILE] [-shard K/N] [-state FILE]\n"
    "\n";

TEST(CommandLineBinary, UsageAndRefusals) {
  // The usage text names every option.
  ProcessResult usage = RunProcess({FERRET_BINARY});
  EXPECT_EQ(usage.exitCode, 255);
  // "Woof!" follows on the rare second that is a multiple of 666.
  if (usage.out != kUsage) {
    EXPECT_EQ(usage.out, std::string(kUsage) + "Woof!\n");
  }
  EXPECT_EQ(usage.err, "");

  // Refusals: one line on standard error, nothing on standard output, no
  // counters line even with -stat before, and no name looked up.
  const struct {
    std::vector<std::string> args;
    const char* message;
  } refusals[] = {
      {{"http://x", "-stat", "-q"}, "unknown option -q; see --help"},
      {{"http://x", "-stat", "--stat"}, "unknown option --stat; see --help"},
      {{"http://x", "-d", "2", "extra"}, "unexpected argument extra; see --help"},
      {{"http://x", "-stat", "-d"}, "-d needs a value"},
      {{"http://x", "-j", "100"}, "-j must be 1 to 64"},
      {{"http://x", "-timeout", "0"}, "-timeout must be 1 to 86400"},
      {{"-x", "-stat"}, "the URL must come first; see --help"},
      {{"--verbose", "http://x"}, "the URL must come first; see --help"},
      {{"--", "-stat"}, "the URL must come first; see --help"},
  };
  for (auto c : refusals) {
    c.args.insert(c.args.begin(), FERRET_BINARY);
    ProcessResult r = RunProcess(c.args);
    EXPECT_EQ(r.exitCode, 255) << c.message;
    EXPECT_EQ(r.out, "") << c.message;
    EXPECT_EQ(r.err, std::string("ferret: ") + c.message + "\n");
    EXPECT_EQ(r.err.find("What the heck"), std::string::npos);
  }
}

TEST(CommandLineBinary, HelpAndVersion) {
  // Every spelling of help prints the same text, whatever follows it.
  std::string help;
  for (std::vector<std::string> args :
       {std::vector<std::string>{"-h"}, {"-help"}, {"--help"}, {"-HELP"}, {"--help", "-stat"}}) {
    args.insert(args.begin(), FERRET_BINARY);
    ProcessResult r = RunProcess(args);
    EXPECT_EQ(r.exitCode, 0) << args[1];
    EXPECT_EQ(r.err, "") << args[1];
    if (help.empty()) help = r.out;
    EXPECT_EQ(r.out, help) << args[1];
  }
  // It opens with the usage lines (one name and version, as --version
  // gives them) and lists every option, one per line.
  std::string usageLines(kUsage, sizeof kUsage - 2);  // without the empty line
  EXPECT_EQ(help.compare(0, usageLines.size(), usageLines), 0) << help;
  for (const char* option :
       {"-k keyword", "-f filespec", "-d depth", "-print", "-download", "-create", "-confine",
        "-stat", "-timeout S", "-once", "-j N", "-show [N]"}) {
    EXPECT_NE(help.find(std::string("\n  ") + option + " "), std::string::npos) << option;
  }
  EXPECT_EQ(help.find("BETA"), std::string::npos);

  for (const char* spelling : {"-version", "--version", "--Version"}) {
    ProcessResult r = RunProcess({FERRET_BINARY, spelling, "http://x"});
    EXPECT_EQ(r.exitCode, 0) << spelling;
    EXPECT_EQ(r.out, "ferret " FERRET_VERSION "\n") << spelling;
    EXPECT_EQ(r.err, "") << spelling;
  }
}

}  // namespace

namespace {

// Runs must say when they failed: through the exit status and standard error.
TEST(CommandLineBinary, RefusedPatternsAndUnwritableOutput) {
  RefusedPort refused;  // nothing may be asked of it: a pattern refusal comes first
  const std::string url = "http://127.0.0.1:" + std::to_string(refused.Port()) + "/";
  const struct {
    const char* option;
    const char* pattern;
    const char* what;
  } bad[] = {
      {"-k", "(a", "keyword"},
      {"-f", "(a)(b)(c)(d)(e)(f)(g)(h)(i)(j)", "file"},
  };
  for (const auto& c : bad) {
    ProcessResult r = RunProcess({FERRET_BINARY, url, c.option, c.pattern});
    EXPECT_EQ(r.exitCode, 255) << c.pattern;
    EXPECT_EQ(r.out, "") << c.pattern;
    std::string start = std::string("Bad ") + c.what + " pattern '" + c.pattern + "': ";
    EXPECT_EQ(r.err.rfind(start, 0), 0u) << r.err;
    EXPECT_GT(r.err.size(), start.size() + 1) << "the engine's reason is missing: " << r.err;
  }
  // A start URL that cannot be fetched is status 2, and a full disk under
  // standard output is reported and is status 3.
  ProcessResult failed = RunProcess({FERRET_BINARY, url, "-stat"});
  EXPECT_EQ(failed.exitCode, 2) << failed.out;
  ProcessResult full = RunProcess(
      {"/bin/sh", "-c", std::string("exec '") + FERRET_BINARY + "' --version >/dev/full"});
  EXPECT_EQ(full.exitCode, 0);  // help and version are not a run
  ProcessResult fullRun = RunProcess(
      {"/bin/sh", "-c", std::string("exec '") + FERRET_BINARY + "' " + url + " -stat >/dev/full"});
  EXPECT_EQ(fullRun.exitCode, 3);
  EXPECT_NE(fullRun.err.find("ferret: cannot write standard output"), std::string::npos)
      << fullRun.err;
}

}  // namespace
