// SaveFile: one file written under a temporary name beside its target and
// put in place, by a rename, only once it is complete.
//
// So a transfer or write that fails leaves no partial file under the final
// name, and an earlier complete copy there stays untouched. The temporary
// name is hidden and unique to the process: ".<file>.ferret-<pid>-<n>" in
// the target's directory. Destruction before Commit removes the temporary
// file; so does RemovePendingOnSignal, for an interrupted run.
//
// The object owns its descriptor and its temporary file; not copyable.
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

  // Creates the temporary file for target. False with errno set (EISDIR
  // when target is a directory).
  bool Open(const CStr& target);
  // Appends length bytes. False with errno set.
  bool Write(const char* data, size_t length);
  // Closes the file and renames it over the target. False with errno set;
  // the temporary file is then gone.
  bool Commit();

  // Removes the temporary file of the save in progress, if any. Safe to call
  // from a signal handler.
  static void RemovePendingOnSignal();

 private:
  void Discard();

  int fd = -1;     // open temporary file; -1 when none
  CStr target;     // the final name
  CStr temporary;  // the temporary name; empty once renamed or removed
};

#endif  // FERRET_APP_SAVEFILE_H_
