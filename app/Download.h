// Saves: the body of one URL put in a file, under the URL's name.
//
// The file is named after the URL's last path segment ("index.html" when
// empty); with the create setting it goes into the URL's directory, made
// first, under the current directory. The saved path never leaves the
// current directory. The body is copied byte for byte into a temporary file
// (SaveFile) and, once it is whole and in place, "Saving <url> as <path>" is
// printed; a save that fails prints its error line instead, and one a stop
// cuts short prints nothing.
//
// DownloadUrl makes a request of its own for the save. A save that an
// answer read anyway serves (a page's scan reads it) is made from that one
// reading instead: BodySave takes the body as it is read, and SaveHeld saves
// a body held whole (app/BodyCopy.h) once the page is found to qualify.
#ifndef FERRET_APP_DOWNLOAD_H_
#define FERRET_APP_DOWNLOAD_H_

#include <cstddef>
#include <string_view>

#include "app/BodyCopy.h"
#include "app/CrawlContext.h"
#include "app/SaveFile.h"
#include "net/HttpRequest.h"
#include "net/Url.h"
#include "text/CStr.h"

// The directory part of a URL made safe to use under the current directory:
// a leading "/" and every empty, "." and ".." segment dropped.
CStr ConfinedDirectory(const CStr& dir);

// One save of the body of the answer from url, written as the body is read
// and put in place by Finish; dropped (its temporary file removed) if it is
// not finished.
class BodySave {
 public:
  // Opens the file (its directories made first); a failure is kept for
  // Finish to report.
  BodySave(CrawlContext& crawl, const Url& url);
  BodySave(const BodySave&) = delete;
  BodySave& operator=(const BodySave&) = delete;

  // Whether the body is still wanted: the file is open and no write failed.
  bool Writing() const { return writing; }
  // Appends the next bytes of the body (none once a write failed); Writing().
  bool Write(const char* data, size_t length);
  bool Write(std::string_view piece) { return Write(piece.data(), piece.size()); }
  // After the body was read as far as it goes: puts the file in place and
  // announces it, or reports why not (the file, or a body that did not arrive
  // whole, when body is given to be asked). -1 when the stop cut the save
  // short, unannounced; 0 otherwise.
  int Finish(const ResponseBody* body);

 private:
  CrawlContext& crawl;
  const CStr url;   // as announced
  const CStr path;  // as saved
  SaveFile out;
  bool writing;
};

// 0 once a response was obtained (saved or not: a file that cannot be written
// is reported and counted in errors), with *answered (when given) set to the
// URL that answered; -1 when the request failed.
int DownloadUrl(CrawlContext& crawl, const Url& url, Url* answered = nullptr);

// Saves held, the whole body of the answer from url, as DownloadUrl would
// have saved a request of its own for url: its answer is counted for the
// save too (one head, an answer), so that the counters stay those of a run
// that asks again. When held could not keep the body whole, the save asks
// for url after all (DownloadUrl). Returns as DownloadUrl.
int SaveHeld(CrawlContext& crawl, const Url& url, const HeldBody& held);

#endif  // FERRET_APP_DOWNLOAD_H_
