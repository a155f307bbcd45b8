// SaveFile: one file saved under the current directory, written under a
// temporary name beside its target and put in place, by a rename, only once
// it is complete.
//
// So a transfer or write that fails leaves no partial file under the final
// name, and an earlier complete copy there stays untouched. The temporary
// name is hidden and unique to the process: ".<file>.ferret-<pid>-<n>".
//
// The path is relative ("dir/dir/file", no empty, "." or ".." directory
// level). Every level is opened below the one before without following a
// symbolic link, and missing levels are made, so nothing is ever written
// outside the current directory through a link that is already there; a
// target that is itself a symbolic link is refused too. A level or file name
// that begins with '.' (".git", ".ssh", ".bashrc") is never made or written.
//
// Destruction before Commit removes the temporary file (an interrupted run
// unwinds its save through it). The object owns its descriptors and its
// temporary file; not copyable.
#ifndef FERRET_APP_SAVEFILE_H_
#define FERRET_APP_SAVEFILE_H_

#include <cstddef>

#include "text/CStr.h"

class SaveFile {
 public:
  SaveFile() = default;
  ~SaveFile();
  SaveFile(const SaveFile&) = delete;
  SaveFile& operator=(const SaveFile&) = delete;

  // Opens the directory levels of path and creates the temporary file.
  bool Open(const CStr& path);
  // Appends length bytes.
  bool Write(const char* data, size_t length);
  // Closes the file and renames it over the target; the temporary file is
  // gone either way.
  bool Commit();
  // After a false result: why, in words for the user.
  const CStr& Failure() const { return failure; }


 private:
  bool Fail(const char* reason);  // records reason (strerror(errno) when null)
  bool OpenDirectory(const CStr& path, CStr* name);
  void Discard();

  int dirFd = -1;  // the target's directory; -1 when none is open
  int fd = -1;     // open temporary file; -1 when none
  CStr name;       // the target's name in dirFd
  CStr temporary;  // the temporary name in dirFd; empty once renamed or removed
  CStr failure;
};

#endif  // FERRET_APP_SAVEFILE_H_
