// -state end to end: the built ferret binary crawls a loopback site, is
// killed (SIGKILL) or interrupted (SIGINT) at random moments, and is run
// again with the same command until the crawl ends. Together the runs must
// be one uninterrupted run: their standard outputs concatenated, the files
// saved and the final counters line the same, every URL of that run asked
// for, and none asked again but the one step each kill cut short. A state
// is refused for another command line, once its crawl is over, and when it
// is no state at all.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "tests/common/Files.h"
#include "tests/common/Subprocess.h"
#include "tests/support/HttpResponse.h"
#include "tests/support/ScriptedServer.h"

namespace {

using Args = std::vector<std::string>;

constexpr int kPages = 30;

std::string Link(const std::string& href) { return "<a href=\"" + href + "\">x</a>\n"; }

// Pages p0 to p29, every other one with the keyword, each linking four
// others (so pages are met again by other paths), a file and, from p0, a
// redirect to p3 (an exchange of a page met before).
void ServeSite(ScriptedServer& server) {
  for (int i = 0; i < kPages; ++i) {
    std::string body = i % 2 == 0 ? "<p>a needle</p>\n" : "<p>hay</p>\n";
    for (int k = 1; k <= 4; ++k)
      body += Link("p" + std::to_string((i * k * 7 + k) % kPages) + ".html");
    body += Link("f" + std::to_string(i % 6) + ".bin");
    if (i == 0) body += Link("r.html");
    server.SetResponse("/p" + std::to_string(i) + ".html", HtmlResponse(body));
  }
  for (int j = 0; j < 6; ++j) {
    server.SetResponse("/f" + std::to_string(j) + ".bin",
                       FileResponse(std::string(100 + j * 997, static_cast<char>('a' + j)),
                                    "application/octet-stream"));
  }
  server.SetResponse("/r.html",
                     "HTTP/1.1 301 Moved\r\nLocation: /p3.html\r\nContent-Length: 0\r\n\r\n");
}

// The files of a download directory; a save a SIGKILL cut short leaves its
// hidden temporary file (".name.ferret-pid-n"), which is no file saved.
std::map<std::string, std::string> SavedFiles(const std::string& dir) {
  std::map<std::string, std::string> saved;
  for (const auto& entry : DirectoryTree(dir)) {
    size_t slash = entry.first.rfind('/');
    std::string name = slash == std::string::npos ? entry.first : entry.first.substr(slash + 1);
    if (name.find(".ferret-") == std::string::npos) saved.insert(entry);
  }
  return saved;
}

// How often the server was asked for each path, counting whole requests
// only: a kill may cut one short as it is sent.
std::map<std::string, int> Counted(const ScriptedServer& server) {
  std::map<std::string, int> counts;
  std::vector<std::string> requests = server.Requests();
  std::vector<std::string> paths = server.RequestPaths();
  for (size_t i = 0; i < requests.size(); ++i) {
    const std::string& request = requests[i];
    if (request.size() >= 4 && request.compare(request.size() - 4, 4, "\r\n\r\n") == 0) {
      ++counts[paths[i]];
    }
  }
  return counts;
}

// Whether the outputs of runs, one after the other, add up to whole: each
// run's output goes on from where the one before it ended, but for a kill
// between a step's lines and its commit, which has the step's lines (a page
// and its save, two lines at most) written again at the start of the next.
bool AddUpTo(const std::vector<std::string>& outs, const std::string& whole) {
  std::vector<std::string> expected = Lines(whole);
  size_t at = 0;
  for (const std::string& out : outs) {
    std::vector<std::string> lines = Lines(out);
    auto fits = [&](size_t skip) {
      if (at + lines.size() - skip > expected.size()) return false;
      return std::equal(lines.begin() + static_cast<long>(skip), lines.end(),
                        expected.begin() + static_cast<long>(at)) &&
             (skip == 0 || std::equal(lines.begin(), lines.begin() + static_cast<long>(skip),
                                      expected.begin() + static_cast<long>(at - skip)));
    };
    size_t skip = 0;
    while (skip <= 2 && skip <= at && skip <= lines.size() && !fits(skip)) ++skip;
    if (skip > 2 || skip > at || skip > lines.size()) return false;
    at += lines.size() - skip;
  }
  return at == expected.size();
}

Args Command(const ScriptedServer& server, const Args& options, const std::string& state) {
  Args args{FERRET_BINARY, server.Url("/p0.html")};
  args.insert(args.end(), options.begin(), options.end());
  if (!state.empty()) args.insert(args.end(), {"-state", state});
  return args;
}

unsigned Seed() {
  const char* given = std::getenv("FERRET_STATE_SEED");
  return given != nullptr ? static_cast<unsigned>(std::strtoul(given, nullptr, 10))
                          : std::random_device{}();
}

// Each option set is crawled whole once, then again with -state, stopped
// at random moments (SIGKILL, and every third stop SIGINT) and resumed until
// a run ends the crawl. Set FERRET_STATE_SEED to repeat a failed loop.
TEST(StateResume, KilledAndResumedRunsAddUpToOneRun) {
  const std::vector<Args> optionSets = {
      {"-k", "needle", "-d", "3", "-once", "-print", "-download", "-stat"},
      {"-f", "\\.bin$", "-d", "2", "-once", "-print", "-download", "-create", "-stat"},
      {"-k", "needle", "-d", "2", "-print", "-stat"},
  };
  const unsigned seed = Seed();
  SCOPED_TRACE("FERRET_STATE_SEED=" + std::to_string(seed));
  std::mt19937 draws(seed);
  for (const Args& options : optionSets) {
    SCOPED_TRACE(options[0] + " " + options[1] + " " + options[3] + " " + options[4]);
    ScriptedServer server;
    ServeSite(server);
    TempDir whole, pieces, stateDir;
    auto began = std::chrono::steady_clock::now();
    ProcessResult once = RunProcess(Command(server, options, ""), whole.Path());
    long wholeMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                       std::chrono::steady_clock::now() - began)
                       .count();
    ASSERT_EQ(once.exitCode, 0) << once.err;
    const std::map<std::string, int> wholeRequests = Counted(server);
    server.ClearRequests();

    const std::string state = stateDir.Path() + "/crawl.db";
    std::string out;
    std::vector<std::string> outs;  // each run's
    int stops = 0;
    // The run that ends the crawl writes the counters line last (every set
    // has -stat); a stop may still land after it, as the run closes.
    auto ended = [&out] { return out.rfind("Saves(") != std::string::npos; };
    // The run's own time bounds the moment of a stop: most land mid-crawl
    // (a run resumed late has less to do, so some land after its end).
    for (int run = 0; run < 12 && !ended(); ++run) {
      int signal = run % 3 == 2 ? SIGINT : SIGKILL;
      int delayMs = std::uniform_int_distribution<int>(0, static_cast<int>(wholeMs) + 20)(draws);
      ProcessResult r =
          RunProcess(Command(server, options, state), pieces.Path(), 120, [&](int pid) {
            std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
            kill(pid, signal);
          });
      out += r.out;
      outs.push_back(r.out);
      if (r.exitCode == 0 || ended()) continue;
      ++stops;
      if (signal == SIGINT && r.signal == 0) {
        EXPECT_EQ(r.exitCode, 130) << r.err;
        EXPECT_NE(r.err.find("run the same command to go on"), std::string::npos) << r.err;
      } else {
        EXPECT_EQ(r.signal, signal) << r.exitCode << r.err;
      }
    }
    if (!ended()) {
      ProcessResult r = RunProcess(Command(server, options, state), pieces.Path());
      EXPECT_EQ(r.exitCode, 0) << r.err;
      out += r.out;
      outs.push_back(r.out);
    }
    EXPECT_TRUE(AddUpTo(outs, once.out)) << out << "\nnot\n" << once.out;
    EXPECT_EQ(SavedFiles(pieces.Path()), SavedFiles(whole.Path()));
    // Every request of the whole run, and past those only the step each
    // stop cut short (a page and the save it serves at most).
    std::map<std::string, int> requests = Counted(server);
    int repeated = 0;
    for (const auto& path : requests) {
      int whole = wholeRequests.count(path.first) ? wholeRequests.at(path.first) : 0;
      EXPECT_GE(path.second, whole) << path.first;
      repeated += path.second - whole;
    }
    EXPECT_EQ(requests.size(), wholeRequests.size());
    EXPECT_LE(repeated, 2 * stops) << stops << " stops";
  }
}

TEST(StateResume, RefusesAStateItCannotGoOnFrom) {
  ScriptedServer server;
  ServeSite(server);
  TempDir dir;
  const std::string state = dir.Path() + "/crawl.db";
  const Args options{"-k", "needle", "-d", "1", "-print"};
  ProcessResult first = RunProcess(Command(server, options, state), dir.Path());
  ASSERT_EQ(first.exitCode, 0) << first.err;
  ASSERT_FALSE(first.out.empty());
  const std::string notState = dir.Path() + "/notes.txt";
  std::ofstream(notState) << "these are no crawl's state\n";
  struct Refusal {
    Args options;
    std::string file;
    int status;
    std::string message;
  };
  const std::vector<Refusal> refusals = {
      {options, state, 255, "the crawl kept in " + state + " is over"},
      {{"-k", "needle", "-d", "2", "-print"},
       state,
       255,
       "holds the state of another command line"},
      {{"-k", "needle", "-print", "-d", "1"},
       state,
       255,
       "holds the state of another command line"},
      {options, notState, 3, "not a crawl state"},
      {{"-k", "needle", "-d", "1", "-print", "-j", "2"}, state, 255, "-state works with -j 1 only"},
  };
  server.ClearRequests();
  for (const Refusal& refusal : refusals) {
    ProcessResult r = RunProcess(Command(server, refusal.options, refusal.file), dir.Path());
    EXPECT_EQ(r.exitCode, refusal.status) << refusal.message;
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find(refusal.message), std::string::npos) << r.err;
  }
  EXPECT_TRUE(server.RequestPaths().empty());
  EXPECT_EQ(ReadFile(notState), "these are no crawl's state\n");
}

}  // namespace
