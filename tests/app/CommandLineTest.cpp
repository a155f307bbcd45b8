#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "app/TextReporter.h"
#include "tests/common/Subprocess.h"
#include "tests/support/Loopback.h"

namespace {

struct Parsed {
  int result;
  Options options;
  std::string url;
  std::string out;
};

Parsed Parse(std::vector<const char*> args) {
  args.insert(args.begin(), "ferret");
  Options options;
  CStr url;
  testing::internal::CaptureStdout();
  int result = ParseCommandLine(static_cast<int>(args.size()), args.data(), options, url);
  std::string out = testing::internal::GetCapturedStdout();
  return {result, options, std::string(url), out};
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

TEST(CommandLine, ArgumentsNotUnderstood) {
  const struct {
    std::vector<const char*> args;
    const char* message;
  } cases[] = {
      {{"http://h/", "-x"}, "What the heck is -x?\n"},
      {{"http://h/", "-stat", "extra"}, "What the heck is extra?\n"},
      {{"http://h/", "-printer"}, "What the heck is -printer?\n"},
      {{"http://h/", "-d"}, "What the heck is -d?\n"},
      {{"http://h/", "-k", "a", "-f"}, "What the heck is -f?\n"},
      {{"http://h/", "-K"}, "What the heck is -K?\n"},
      // A first argument beginning with '-' is never taken for a URL.
      {{"-x", "-stat"}, "What the heck is -x?\n"},
      {{"--helpme"}, "What the heck is --helpme?\n"},
      {{"-", "-k", "a"}, "What the heck is -?\n"},
      {{"-d", "3"}, "What the heck is -d?\n"},
  };
  for (const auto& c : cases) {
    Parsed p = Parse(c.args);
    EXPECT_EQ(p.result, -1) << c.message;
    EXPECT_EQ(p.out, c.message);
    EXPECT_EQ(p.url, "") << c.message;
  }
  // Past what a string may hold: refused, not fatal.
  std::string huge(70000, 'k');
  for (std::vector<const char*> args : {std::vector<const char*>{huge.c_str()},
                                        std::vector<const char*>{"h", "-k", huge.c_str()}}) {
    Parsed p = Parse(args);
    EXPECT_EQ(p.result, -1);
    EXPECT_EQ(p.out, "Argument too long (70000 characters): " + std::string(40, 'k') + "...\n");
  }
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

const char kUsage[] =
    "Ferret 1.0 BETA\n"
    "FORMAT: Ferret url [-k keyword] [-f filespec] [-d depth] [-print]\n"
    "                   [-download] [-create] [-confine] [-stat]\n"
    "\n";

TEST(CommandLineBinary, UsageAndUnknownArgument) {
  ProcessResult usage = RunProcess({FERRET_BINARY});
  EXPECT_EQ(usage.exitCode, 255);
  // "Woof!" follows on the rare second that is a multiple of 666.
  if (usage.out != kUsage) {
    EXPECT_EQ(usage.out, std::string(kUsage) + "Woof!\n");
  }
  EXPECT_EQ(usage.err, "");

  // stdout is a pipe here: printf's own probing of it must not leak a stale
  // system error onto standard error.
  ProcessResult bad = RunProcess({FERRET_BINARY, "http://x", "-x"});
  EXPECT_EQ(bad.exitCode, 255);
  EXPECT_EQ(bad.out, "What the heck is -x?\n");
  EXPECT_EQ(bad.err, "");

  ProcessResult late = RunProcess({FERRET_BINARY, "http://x", "-stat", "-q"});
  EXPECT_EQ(late.exitCode, 255);
  EXPECT_EQ(late.out, "What the heck is -q?\n");  // no counters line

  // A first argument that looks like an option is refused before any name
  // lookup: no "Error ... connecting to" line, nothing on standard error.
  for (const char* first : {"-x", "--verbose", "-v", "--"}) {
    ProcessResult r = RunProcess({FERRET_BINARY, first, "-stat"});
    EXPECT_EQ(r.exitCode, 255) << first;
    EXPECT_EQ(r.out, std::string("What the heck is ") + first + "?\n") << first;
    EXPECT_EQ(r.err, "") << first;
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
  // It opens with the usage lines and lists every option, one per line.
  std::string usageLines(kUsage, sizeof kUsage - 2);  // without the empty line
  EXPECT_EQ(help.compare(0, usageLines.size(), usageLines), 0) << help;
  for (const char* option : {"-k keyword", "-f filespec", "-d depth", "-print", "-download",
                             "-create", "-confine", "-stat", "-timeout S", "-once"}) {
    EXPECT_NE(help.find(std::string("\n  ") + option + " "), std::string::npos) << option;
  }

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
