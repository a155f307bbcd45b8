// -show end to end: the matching lines written after each printed page, as
// each reading numbers and cuts them, at -j 1 and -j 4; and their highlight,
// only on a terminal and never with NO_COLOR set.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "tests/common/Files.h"
#include "tests/common/Subprocess.h"
#include "tests/support/HttpResponse.h"
#include "tests/support/ScriptedServer.h"

extern char** environ;

namespace {

std::string Repeat(const std::string& piece, size_t times) {
  std::string out;
  for (size_t i = 0; i < times; ++i) out += piece;
  return out;
}

const std::string kE = "\xC3\xA9";  // é: two bytes, the second a continuation

// /p.html, linked from /: each line says what it tries.
void ShowSite(ScriptedServer& server) {
  server.SetResponse("/", HtmlResponse("<a href=\"p.html\">p</a>\n"));
  server.SetResponse("/p.html",
                     HtmlResponse("<html><body>\n"
                                  "<p>A needle first</p>\n"
                                  "\tcontrol \x1B[31m needle \x07 bytes\n"
                                  "<p>hay</p>\n" +
                                  std::string(300, 'a') + "NEEDLE" + std::string(300, 'b') + "\n" +
                                  "<p>split <em>nee</em>dle</p>\n"
                                  "needle with CRLF\r\n" +
                                  std::string(1100, 'c') + " needle\n" + Repeat(kE, 200) + "x" +
                                  "needle" + Repeat(kE, 200) + "\n</body></html>\n"));
}

// The lines every reading shows alike; n is the number each reading gives.
std::string First(int n) { return "  " + std::to_string(n) + ": <p>A needle first</p>"; }
std::string Control(int n, const char* indent) {
  return "  " + std::to_string(n) + ": " + indent + "control %1B[31m needle %07 bytes";
}
std::string Long(int n) {
  return "  " + std::to_string(n) + ": ..." + std::string(60, 'a') + "NEEDLE" +
         std::string(134, 'b') + "...";
}
std::string Whole(int n) {
  return "  " + std::to_string(n) + ": ..." + std::string(193, 'c') + " needle";
}
std::string Wide(int n) {
  return "  " + std::to_string(n) + ": ..." + Repeat(kE, 29) + "xneedle" + Repeat(kE, 67) + "...";
}

TEST(Show, LinesNumberedAndCutAsEachReadingReadsThem) {
  ScriptedServer server;
  ShowSite(server);
  const std::string page = server.HostPort() + "/p.html";
  const std::string absolute = server.Url("/p.html");
  const struct {
    const char* name;
    std::vector<std::string> args;
    std::vector<std::string> out;
  } rows[] = {
      // Source lines; the 1100-byte line is read in pieces of 1022 bytes,
      // and the piece that matched is shown. Five lines at most.
      {"default count, the design's reading",
       {"-show"},
       {page, First(2), Control(3, " "), Long(5), "  7: needle with CRLF",
        "  8: ..." + std::string(78, 'c') + " needle"}},
      {"a count of two", {"-show", "2", "-html"}, {absolute, First(2), Control(3, " ")}},
      {"-html: whole lines, cut at a character's start",
       {"-SHOW", "100", "-html"},
       {absolute, First(2), Control(3, " "), Long(5), "  7: needle with CRLF", Whole(8), Wide(9)}},
      {"-text: text lines, markup gone",
       {"-show", "100", "-text"},
       {absolute, "  1: A needle first", Control(2, ""), Long(4), "  5: split needle",
        "  6: needle with CRLF", Whole(7), Wide(8)}},
      {"no page printed, no line shown",
       {"-show", "-stat"},
       {"Saves(0) Prints(0) Hits(2) HTTP 200(100%) Errors(0)"}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    for (const char* jobs : {"1", "4"}) {
      SCOPED_TRACE(std::string("-j ") + jobs);
      std::vector<std::string> argv = {
          FERRET_BINARY, server.Url("/"), "-k", "needle", "-d", "1", "-j", jobs};
      argv.insert(argv.end(), row.args.begin(), row.args.end());
      ProcessResult r = RunProcess(argv);
      EXPECT_EQ(r.exitCode, 0) << r.err;
      EXPECT_EQ(Lines(r.out), row.out);
    }
  }
}

// Runs argv with standard output on a pseudo-terminal (raw, so its bytes
// arrive as written) and standard error on /dev/null, NO_COLOR removed from
// the environment or set to noColor; what it wrote, once it has ended.
std::string RunOnTerminal(const std::vector<std::string>& argv, const char* noColor) {
  int master = -1, slave = -1;
  termios raw{};
  cfmakeraw(&raw);
  if (openpty(&master, &slave, nullptr, &raw, nullptr) != 0) return "openpty failed";
  // Made before the fork: the child of a threaded process only execs.
  std::vector<std::string> env;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    if (std::strncmp(*entry, "NO_COLOR=", 9) != 0) env.emplace_back(*entry);
  }
  if (noColor != nullptr) env.push_back(std::string("NO_COLOR=") + noColor);
  std::vector<char*> args, envp;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  for (const std::string& e : env) envp.push_back(const_cast<char*>(e.c_str()));
  args.push_back(nullptr);
  envp.push_back(nullptr);
  int devNull = open("/dev/null", O_RDWR);
  pid_t pid = fork();
  if (pid == 0) {
    dup2(devNull, STDIN_FILENO);
    dup2(slave, STDOUT_FILENO);
    dup2(devNull, STDERR_FILENO);
    execve(args[0], args.data(), envp.data());
    _exit(127);
  }
  close(slave);
  close(devNull);
  std::string out;
  pollfd ready = {master, POLLIN, 0};
  // The terminal reads EIO once the child's side is closed.
  while (pid > 0 && poll(&ready, 1, 60000) > 0) {
    char chunk[4096];
    ssize_t got = read(master, chunk, sizeof chunk);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    out.append(chunk, static_cast<size_t>(got));
  }
  if (pid > 0) {
    kill(pid, SIGKILL);  // a child still running past the limit; else a no-op
    waitpid(pid, nullptr, 0);
  }
  close(master);
  return out;
}

TEST(Show, MatchHighlightedOnlyOnATerminalWithoutNoColor) {
  ScriptedServer server;
  ShowSite(server);
  const std::vector<std::string> argv = {
      FERRET_BINARY, server.Url("/p.html"), "-k", "NEE+DLE", "-show", "2"};
  const std::string url = server.Url("/p.html") + "\n";
  const std::string plain =
      url + "  2: <p>A needle first</p>\n  3:  control %1B[31m needle %07 bytes\n";
  const std::string lit = url + "  2: <p>A \033[01;31mneedle\033[m first</p>\n" +
                          "  3:  control %1B[31m \033[01;31mneedle\033[m %07 bytes\n";
  EXPECT_EQ(RunOnTerminal(argv, nullptr), lit);
  EXPECT_EQ(RunOnTerminal(argv, ""), lit);  // no-color.org: an empty value is no value
  EXPECT_EQ(RunOnTerminal(argv, "1"), plain);
  ProcessResult piped = RunProcess(argv);
  EXPECT_EQ(piped.out, plain);
}

}  // namespace
