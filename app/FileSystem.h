// Platform layer for saving files: directories and output files.
#ifndef FERRET_APP_FILESYSTEM_H_
#define FERRET_APP_FILESYSTEM_H_

#include "text/CStr.h"

// Creates every missing level of the relative directory path, as mkdir -p
// does. Levels that exist, or cannot be made, are passed over silently: the
// open of the file inside reports the failure that matters.
void MakeDirectories(const CStr& path);

#endif  // FERRET_APP_FILESYSTEM_H_
