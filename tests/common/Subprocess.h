// RunProcess: runs a program to completion for end-to-end tests and collects
// its exit status, standard output and standard error separately.
//
// The child gets no standard input. A child still running after the time
// limit is killed (SIGKILL) and reported with timedOut set, so a hung program
// fails its test instead of hanging the suite. A test that must act while the
// child runs (signal it at a chosen moment, say) passes whileRunning: it runs
// on a thread of its own with the child's pid, and the result is collected
// once it has returned, so the pid stays the child's until then.
#ifndef FERRET_TESTS_COMMON_SUBPROCESS_H_
#define FERRET_TESTS_COMMON_SUBPROCESS_H_

#include <functional>
#include <string>
#include <vector>

struct ProcessResult {
  int exitCode = -1;  // 0..255 when the child exited, -1 otherwise
  int signal = 0;     // the signal that ended the child, or 0
  bool timedOut = false;
  std::string out;
  std::string err;
};

// argv[0] is the program's path. An empty workDir keeps the current one.
// whileRunning(pid), when given, runs on a thread of its own while the
// child's output is read (to signal the child at a chosen moment, say); the
// child is reaped only once it has returned, so pid names the child, or what
// is left of it, all the while.
ProcessResult RunProcess(const std::vector<std::string>& argv, const std::string& workDir = "",
                         int timeLimitSeconds = 120,
                         const std::function<void(int pid)>& whileRunning = nullptr);

#endif  // FERRET_TESTS_COMMON_SUBPROCESS_H_
