#include "app/Progress.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>

namespace {

constexpr auto kRedrawInterval = std::chrono::milliseconds(200);

int TerminalWidth() {
  winsize size{};
  if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 20) return size.ws_col;
  return 80;
}

}  // namespace

ProgressLine::ProgressLine()
    : enabled(isatty(STDERR_FILENO) == 1), start(Clock::now()), lastDraw(start) {}

void ProgressLine::Draw(int errors) {
  auto now = Clock::now();
  if (now - lastDraw < kRedrawInterval) return;
  lastDraw = now;
  long seconds =
      static_cast<long>(std::chrono::duration_cast<std::chrono::seconds>(now - start).count());
  char line[512];
  int used = std::snprintf(line, sizeof line, "[%ld:%02ld] pages %llu, %.1f MB, errors %d, depth %d: ",
                           seconds / 60, seconds % 60, pages, bytes / 1048576.0, errors, depth_);
  // One line, never wrapped: the URL is cut to what is left of the width.
  int room = TerminalWidth() - 1 - used;
  if (used < 0 || room < 0) room = 0;
  std::fprintf(stderr, "\r%s%.*s\033[K", line, room, static_cast<const char*>(url));
  std::fflush(stderr);
  shown = true;
}

void ProgressLine::Request(const CStr& requested, int errors) {
  if (!enabled) return;
  ++pages;
  url = requested;
  Draw(errors);
}

void ProgressLine::Bytes(size_t length, int errors) {
  if (!enabled) return;
  bytes += length;
  Draw(errors);
}

void ProgressLine::Clear() {
  if (!shown) return;
  std::fputs("\r\033[K", stderr);
  std::fflush(stderr);
  shown = false;
}
