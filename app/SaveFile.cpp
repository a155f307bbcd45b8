#include "app/SaveFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "net/FileWrite.h"

namespace {

// Not retried on EINTR: Linux has released the descriptor by then.
void CloseDescriptor(int& fd) {
  if (fd != -1) close(fd);
  fd = -1;
}

bool IsHidden(const char* name, size_t length) {
  return length > 0 && name[0] == '.' && !(length == 1 || (length == 2 && name[1] == '.'));
}

}  // namespace

SaveFile::~SaveFile() { Discard(); }

bool SaveFile::Fail(const char* reason) {
  failure = reason != nullptr ? reason : std::strerror(errno);
  return false;
}

// Opens every directory level of path below the current directory, making
// those that are missing, and leaves the last one in dirFd and the file's
// name in *leaf.
bool SaveFile::OpenDirectory(const CStr& path, CStr* leaf) {
  // Every name is checked before any level is made, so a refused path
  // leaves nothing behind.
  for (const char* segment = path;;) {
    const char* slash = std::strchr(segment, '/');
    size_t length = slash != nullptr ? static_cast<size_t>(slash - segment) : std::strlen(segment);
    if (IsHidden(segment, length)) return Fail("names beginning with '.' are not written");
    if (slash == nullptr) break;
    segment = slash + 1;
  }
  dirFd = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd == -1) return Fail(nullptr);
  const char* segment = path;
  for (;;) {
    const char* slash = std::strchr(segment, '/');
    size_t length = slash != nullptr ? static_cast<size_t>(slash - segment) : std::strlen(segment);
    CStr part;
    part.Append(segment, static_cast<unsigned short>(length));
    if (slash == nullptr) {
      *leaf = part;
      return true;
    }
    if (mkdirat(dirFd, part, 0755) != 0 && errno != EEXIST) return Fail(nullptr);
    int next = openat(dirFd, part, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (next == -1) {
      // Linux says ELOOP or ENOTDIR for a link here; the link is what to tell.
      int error = errno;
      struct stat info;
      bool link = fstatat(dirFd, part, &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(info.st_mode);
      errno = error;
      return Fail(link ? "the path passes through a symbolic link" : nullptr);
    }
    CloseDescriptor(dirFd);
    dirFd = next;
    segment = slash + 1;
  }
}

bool SaveFile::Open(const CStr& path) {
  if (!OpenDirectory(path, &name)) return false;
  struct stat info;
  if (fstatat(dirFd, name, &info, AT_SYMLINK_NOFOLLOW) == 0) {
    if (S_ISLNK(info.st_mode)) return Fail("the file is a symbolic link");
    if (S_ISDIR(info.st_mode)) return Fail(std::strerror(EISDIR));
  }
  static unsigned serial = 0;
  temporary.Format(".%.100s.ferret-%d-%u", static_cast<const char*>(name),
                   static_cast<int>(getpid()), ++serial);
  do {
    fd = openat(dirFd, temporary, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  } while (fd == -1 && errno == EINTR);
  if (fd == -1) {
    Fail(nullptr);
    temporary = CStr();
    return false;
  }
  return true;
}

bool SaveFile::Write(const char* data, size_t length) {
  return WriteAll(fd, data, length) || Fail(nullptr);
}

bool SaveFile::Commit() {
  int result = close(fd);
  fd = -1;
  if (result == 0) result = renameat(dirFd, temporary, dirFd, name);
  if (result != 0) {
    Fail(nullptr);
    Discard();
    return false;
  }
  temporary = CStr();
  CloseDescriptor(dirFd);
  return true;
}

void SaveFile::Discard() {
  CloseDescriptor(fd);
  if (!temporary.IsEmpty()) {
    unlinkat(dirFd, temporary, 0);
    temporary = CStr();
  }
  CloseDescriptor(dirFd);
}
