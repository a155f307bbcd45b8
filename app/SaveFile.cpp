#include "app/SaveFile.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

// The temporary file of the save in progress, for a signal handler: a path
// copied in before the file is created and cleared once it is gone.
char pendingPath[PATH_MAX];
std::atomic<bool> pendingSet{false};

void SetPending(const char* path) {
  pendingSet.store(false);
  std::snprintf(pendingPath, sizeof pendingPath, "%s", path);
  pendingSet.store(true);
}

void ClearPending() { pendingSet.store(false); }

// Not retried on EINTR: Linux has released the descriptor by then.
int CloseDescriptor(int fd) { return close(fd); }

}  // namespace

SaveFile::~SaveFile() { Discard(); }

bool SaveFile::Open(const CStr& path) {
  struct stat info;
  if (lstat(path, &info) == 0 && S_ISDIR(info.st_mode)) {
    errno = EISDIR;
    return false;
  }
  static unsigned serial = 0;
  int slash = path.ReverseFind('/');
  CStr dir, name;
  if (slash >= 0) {
    dir.Append(path, static_cast<unsigned short>(slash + 1));
    name = static_cast<const char*>(path) + slash + 1;
  } else {
    name = path;
  }
  temporary.Format("%s.%s.ferret-%d-%u", static_cast<const char*>(dir),
                   static_cast<const char*>(name), static_cast<int>(getpid()), ++serial);
  target = path;
  SetPending(temporary);
  do {
    fd = open(temporary, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  } while (fd == -1 && errno == EINTR);
  if (fd == -1) {
    int saved = errno;
    ClearPending();
    temporary = CStr();
    errno = saved;
    return false;
  }
  return true;
}

bool SaveFile::Write(const char* data, size_t length) {
  while (length > 0) {
    ssize_t written = write(fd, data, length);
    if (written == -1) {
      if (errno == EINTR) continue;
      return false;
    }
    data += written;
    length -= static_cast<size_t>(written);
  }
  return true;
}

bool SaveFile::Commit() {
  int result = CloseDescriptor(fd);
  fd = -1;
  if (result == 0) result = rename(temporary, target);
  if (result != 0) {
    int saved = errno;
    Discard();
    errno = saved;
    return false;
  }
  ClearPending();
  temporary = CStr();
  return true;
}

void SaveFile::Discard() {
  if (fd != -1) CloseDescriptor(fd);
  fd = -1;
  if (!temporary.IsEmpty()) {
    int saved = errno;
    unlink(temporary);
    errno = saved;
    ClearPending();
    temporary = CStr();
  }
}

void SaveFile::RemovePendingOnSignal() {
  if (pendingSet.load()) unlink(pendingPath);
}
