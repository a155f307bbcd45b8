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

#include <string>
#include <vector>

#include "tests/common/Files.h"
#include "tests/common/Subprocess.h"
#include "tests/support/HttpResponse.h"
#include "tests/support/ScriptedServer.h"

namespace {

std::string Repeat(const std::string& piece, size_t times) {
  std::string out;
  for (size_t i = 0; i < times; ++i) out += piece;
  return out;
}

const std::string kE = "\xC3\xA9";  // é: two bytes, the second a continuation

// /p.html, linked from /: each line tries one thing.
void ShowSite(ScriptedServer& server) {
  server.SetResponse("/", HtmlResponse("<a href=\"p.html\">p</a>\n"));
  server.SetResponse(
      "/p.html", HtmlResponse("<html><body>\n<p>A needle first</p>\n"
                              "\tcontrol \x1B[31m needle \x07 bytes\n<p>hay</p>\n" +
                              std::string(300, 'a') + "NEEDLE" + std::string(300, 'b') +
                              "\n<p>split <em>nee</em>dle</p>\nneedle with CRLF\r\n" +
                              std::string(1100, 'c') + " needle\n" + Repeat(kE, 200) + "xneedle" +
                              Repeat(kE, 200) + "\n</body></html>\n"));
}

std::string L(int number, const std::string& text) {
  return "  " + std::to_string(number) + ": " + text;
}

TEST(Show, LinesNumberedAndCutAsEachReadingReadsThem) {
  ScriptedServer server;
  ShowSite(server);
  const std::string first = "<p>A needle first</p>", control = "control %1B[31m needle %07 bytes",
                    crlf = "needle with CRLF",
                    cut = "..." + std::string(60, 'a') + "NEEDLE" + std::string(134, 'b') + "...",
                    end = "..." + std::string(193, 'c') + " needle",
                    wide = "..." + Repeat(kE, 29) + "xneedle" + Repeat(kE, 67) + "...";
  const std::string page = server.Url("/p.html");
  const struct {
    std::vector<std::string> args;
    std::vector<std::string> out;
  } rows[] = {
      // The design's reading: five source lines; the 1100-byte line is read
      // in pieces of 1022 bytes, and the piece that matched is shown.
      {{"-show"},
       {server.HostPort() + "/p.html", L(2, first), L(3, " " + control), L(5, cut), L(7, crlf),
        L(8, "..." + std::string(78, 'c') + " needle")}},
      // Whole lines, cut at a character's start.
      {{"-SHOW", "100", "-html"},
       {page, L(2, first), L(3, " " + control), L(5, cut), L(7, crlf), L(8, end), L(9, wide)}},
      // Text lines: markup gone, white space one space.
      {{"-show", "100", "-text"},
       {page, L(1, "A needle first"), L(2, control), L(4, cut), L(5, "split needle"), L(6, crlf),
        L(7, end), L(8, wide)}},
      // No page printed, no line shown.
      {{"-show", "-stat"}, {"Saves(0) Prints(0) Hits(2) HTTP 200(100%) Errors(0)"}},
  };
  for (const auto& row : rows) {
    for (const char* jobs : {"1", "4"}) {
      std::vector<std::string> argv = {
          FERRET_BINARY, server.Url("/"), "-k", "needle", "-d", "1", "-j", jobs};
      argv.insert(argv.end(), row.args.begin(), row.args.end());
      ProcessResult r = RunProcess(argv);
      EXPECT_EQ(r.exitCode, 0) << r.err;
      EXPECT_EQ(Lines(r.out), row.out) << testing::PrintToString(row.args) << " -j " << jobs;
    }
  }
}

// What argv writes on standard output when that is a terminal, raw (its
// bytes as written); standard error goes to /dev/null.
std::string OnTerminal(const std::vector<std::string>& argv) {
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  termios raw{};
  cfmakeraw(&raw);
  int master = -1;
  pid_t pid = forkpty(&master, nullptr, &raw, nullptr);
  if (pid == 0) {
    dup2(open("/dev/null", O_WRONLY), STDERR_FILENO);
    execv(args[0], args.data());
    _exit(127);
  }
  std::string out;
  char chunk[4096];
  ssize_t got = 0;
  pollfd ready = {master, POLLIN, 0};
  // A read fails once the child's side is closed; the poll's limit only
  // keeps a hung child from hanging the suite.
  while (pid > 0 && poll(&ready, 1, 60000) > 0 && (got = read(master, chunk, sizeof chunk)) > 0) {
    out.append(chunk, static_cast<size_t>(got));
  }
  if (pid > 0) {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
  }
  close(master);
  return out;
}

TEST(Show, MatchHighlightedOnlyOnATerminalWithoutNoColor) {
  ScriptedServer server;
  ShowSite(server);
  const std::vector<std::string> run = {
      FERRET_BINARY, server.Url("/p.html"), "-k", "NEE+DLE", "-show", "2"};
  auto with = [&run](std::vector<std::string> env) {
    env.insert(env.begin(), "/usr/bin/env");
    env.insert(env.end(), run.begin(), run.end());
    return env;
  };
  const std::string url = server.Url("/p.html") + "\n";
  const std::string plain =
      url + "  2: <p>A needle first</p>\n  3:  control %1B[31m needle %07 bytes\n";
  const std::string lit = url + "  2: <p>A \033[01;31mneedle\033[m first</p>\n" +
                          "  3:  control %1B[31m \033[01;31mneedle\033[m %07 bytes\n";
  EXPECT_EQ(OnTerminal(with({"-u", "NO_COLOR"})), lit);
  EXPECT_EQ(OnTerminal(with({"NO_COLOR="})), lit);  // no-color.org: an empty value is none
  EXPECT_EQ(OnTerminal(with({"NO_COLOR=1"})), plain);
  EXPECT_EQ(RunProcess(with({"-u", "NO_COLOR"})).out, plain);  // a pipe
}

}  // namespace
