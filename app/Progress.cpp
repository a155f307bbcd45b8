#include "app/Progress.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>

#include "app/Settings.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kRedrawInterval = std::chrono::milliseconds(200);

struct State {
  bool enabled = false;  // standard error is a terminal
  bool shown = false;    // a status line is on the screen now
  Clock::time_point start;
  Clock::time_point lastDraw;
  unsigned long long pages = 0;
  unsigned long long bytes = 0;
  int depth = 0;
  CStr url;
};

State state;

int TerminalWidth() {
  winsize size{};
  if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 20) return size.ws_col;
  return 80;
}

void Draw() {
  auto now = Clock::now();
  if (now - state.lastDraw < kRedrawInterval) return;
  state.lastDraw = now;
  long seconds = static_cast<long>(
      std::chrono::duration_cast<std::chrono::seconds>(now - state.start).count());
  char line[512];
  int used = std::snprintf(
      line, sizeof line, "[%ld:%02ld] pages %llu, %.1f MB, errors %d, depth %d: ", seconds / 60,
      seconds % 60, state.pages, state.bytes / 1048576.0, runSettings.errors, state.depth);
  // One line, never wrapped: the URL is cut to what is left of the width.
  int room = TerminalWidth() - 1 - used;
  if (used < 0 || room < 0) room = 0;
  std::fprintf(stderr, "\r%s%.*s\033[K", line, room, static_cast<const char*>(state.url));
  std::fflush(stderr);
  state.shown = true;
}

}  // namespace

void ProgressStart() {
  state.enabled = isatty(STDERR_FILENO) == 1;
  state.start = Clock::now();
  state.lastDraw = state.start;
}

void ProgressRequest(const CStr& url) {
  if (!state.enabled) return;
  ++state.pages;
  state.url = url;
  Draw();
}

void ProgressDepth(int depth) { state.depth = depth; }

void ProgressBytes(size_t length) {
  if (!state.enabled) return;
  state.bytes += length;
  Draw();
}

void ProgressClear() {
  if (!state.shown) return;
  std::fputs("\r\033[K", stderr);
  std::fflush(stderr);
  state.shown = false;
}
