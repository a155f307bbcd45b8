#include "app/FileSystem.h"

#include <sys/stat.h>
#include <sys/types.h>

void MakeDirectories(const CStr& path) {
  CStr prefix;
  const char* text = path;
  for (unsigned i = 0; i < path.Length(); ++i) {
    if (text[i] == '/' && !prefix.IsEmpty()) mkdir(prefix, 0755);
    prefix += text[i];
  }
  if (!prefix.IsEmpty()) mkdir(prefix, 0755);
}
