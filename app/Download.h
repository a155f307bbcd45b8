// DownloadUrl: saves the body of one URL to a file.
//
// Makes its own connection and request (whatever the caller fetched before),
// copies the body byte for byte, and once the file is whole and in place
// prints "Saving <url> as <path>"; a save that fails prints its error line
// instead, and one a stop cuts short prints nothing. The file
// is named after the URL's last path segment ("index.html" when empty); with
// the create setting it goes into the URL's directory, made first, under the
// current directory. The saved path never leaves the current directory.
#ifndef FERRET_APP_DOWNLOAD_H_
#define FERRET_APP_DOWNLOAD_H_

#include "app/CrawlContext.h"
#include "net/Url.h"
#include "text/CStr.h"

// The directory part of a URL made safe to use under the current directory:
// a leading "/" and every empty, "." and ".." segment dropped.
CStr ConfinedDirectory(const CStr& dir);

// 0 once a response was obtained (saved or not: a file that cannot be written
// is reported and counted in errors), with *answered (when given) set to the
// URL that answered; -1 when the request failed.
int DownloadUrl(CrawlContext& crawl, const Url& url, Url* answered = nullptr);

#endif  // FERRET_APP_DOWNLOAD_H_
