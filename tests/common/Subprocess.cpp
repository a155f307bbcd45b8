#include "tests/common/Subprocess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

namespace {

[[noreturn]] void ExecChild(const std::vector<std::string>& argv, const std::string& workDir,
                            int outFd, int errFd) {
  int devNull = open("/dev/null", O_RDONLY);
  if (devNull >= 0) dup2(devNull, STDIN_FILENO);
  dup2(outFd, STDOUT_FILENO);
  dup2(errFd, STDERR_FILENO);
  if (!workDir.empty() && chdir(workDir.c_str()) != 0) _exit(126);
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  execv(args[0], args.data());
  _exit(127);
}

// Reads both pipes until both reach end of file or the deadline passes.
bool Drain(int outFd, int errFd, ProcessResult& result,
           std::chrono::steady_clock::time_point deadline) {
  pollfd fds[2] = {{outFd, POLLIN, 0}, {errFd, POLLIN, 0}};
  std::string* sinks[2] = {&result.out, &result.err};
  int open = 2;
  while (open > 0) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    int n = poll(fds, 2, static_cast<int>(left.count()));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return n == 0 ? false : true;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      char chunk[4096];
      ssize_t got = read(fds[i].fd, chunk, sizeof chunk);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) {
        fds[i].fd = -1;
        --open;
      } else {
        sinks[i]->append(chunk, static_cast<size_t>(got));
      }
    }
  }
  return true;
}

}  // namespace

ProcessResult RunProcess(const std::vector<std::string>& argv, const std::string& workDir,
                         int timeLimitSeconds) {
  return RunProcess(argv, workDir, timeLimitSeconds, nullptr);
}

ProcessResult RunProcess(const std::vector<std::string>& argv, const std::string& workDir,
                         int timeLimitSeconds, const std::function<void(int pid)>& alongside) {
  ProcessResult result;
  int outPipe[2], errPipe[2];
  if (pipe(outPipe) != 0) return result;
  if (pipe(errPipe) != 0) {
    close(outPipe[0]);
    close(outPipe[1]);
    return result;
  }
  pid_t pid = fork();
  if (pid == 0) ExecChild(argv, workDir, outPipe[1], errPipe[1]);
  close(outPipe[1]);
  close(errPipe[1]);
  std::thread beside;
  if (pid > 0 && alongside) beside = std::thread(alongside, static_cast<int>(pid));
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeLimitSeconds);
  if (pid > 0 && !Drain(outPipe[0], errPipe[0], result, deadline)) {
    kill(pid, SIGKILL);
    result.timedOut = true;
  }
  close(outPipe[0]);
  close(errPipe[0]);
  if (beside.joinable()) beside.join();
  int status = 0;
  if (pid > 0 && waitpid(pid, &status, 0) == pid) {
    if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  }
  return result;
}
