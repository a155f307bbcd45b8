// Options: what the command line asked of one run.
//
// Filled by ParseCommandLine (app/CommandLine.h), implied actions and default
// patterns applied; read-only from then on. The crawl reads it through its
// CrawlContext; nothing here counts or changes while the crawl runs.
#ifndef FERRET_APP_OPTIONS_H_
#define FERRET_APP_OPTIONS_H_

#include <cstddef>
#include <string>
#include <vector>

#include "text/CStr.h"

struct Options {
  CStr keyword;      // pattern tested against page lines; empty: no test
  CStr filespec;     // pattern every collected link must match; empty: none
  int depth = 0;     // levels of links scanned below the start page
  int print = 0;     // print each page or link that qualifies
  int download = 0;  // save each page or link that qualifies
  int create = 0;    // saving first creates the URL's directory
  int confine = 0;   // every request is checked against the start host's domain
  int stat = 0;      // print the counters line at the end
  int timeout = 60;  // seconds a connection may stay silent; 1 to 86400
  int once = 0;      // request each URL at most once (the page scan's requests)
  int jobs = 1;      // requests in flight at once, 1 to 64
  int html = 0;      // links read as a browser reads them, lines tested whole
  int text = 0;      // the keyword tested on the page's text (implies html)
  int noparent = 0;             // only URLs at or below the start URL's directory
  std::vector<CStr> accept;     // a URL must match one of these, when any is given
  std::vector<CStr> reject;     // and none of these
  long maxPages = 0;            // page requests allowed; 0: no limit
  int tries = 1;                // requests a URL gets when a passing failure ends one
  int robots = 0;               // obey each server's robots.txt
  double wait = 0;              // seconds between one request's end and the next's start to a host
  int perHost = 0;              // exchanges with one host at once; 0: as many as -j
  std::string agent;                 // the User-Agent value; empty: ferret's own
  std::vector<std::string> headers;  // "Name: value" lines for the start URL's domain
  std::string warc;                  // the WARC file every exchange is archived in; empty: none
  int json = 0;                      // JSON Lines on standard output instead of the human lines
  std::string commandLine;           // the arguments as given, blank-separated (for the archive)
  std::string state;                 // the file the crawl's state is kept in (-state); empty: none
  std::string stateIdentity;         // the command line but -state, as a state file keeps it
  int show = 0;                      // lines shown after each printed page, 1 to 100; 0: none
  std::string startList;  // -i: the file of start URLs ("-": standard input); empty: none
  int shard = 0;          // -shard K/N: the shard handled, 0 to N - 1
  int shards = 0;         // N; 0: every host is handled

  // Each answer is read whole before the crawl reads any of it: -tries
  // above 1, so that a body cut short is asked for again, and -warc, which
  // archives answers whole.
  bool ReadsWhole() const { return tries > 1 || !warc.empty(); }

  // File mode: no keyword, so the links themselves are printed or saved.
  bool FileMode() const { return keyword.IsEmpty(); }
  // The matching lines a page's reading keeps: only printed pages show them.
  size_t LinesShown() const { return print && !FileMode() ? static_cast<size_t>(show) : 0; }
};

#endif  // FERRET_APP_OPTIONS_H_
