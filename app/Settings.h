// RunSettings and LineBuffer: the run-wide state shared by the crawler and
// the network code.
//
// One process-wide RunSettings holds the options parsed from the command line
// and the counters of the run. The options do not change once the defaults
// are applied (startHost is written once, before the first request); the
// counters only grow. LineBuffer is the one buffer every read from a
// connection goes into; a line in it is used up before the next read.
// The program is single-threaded: both are plain global data.
#ifndef FERRET_APP_SETTINGS_H_
#define FERRET_APP_SETTINGS_H_

#include "text/CStr.h"

struct RunSettings {
  // Options.
  CStr keyword;      // pattern tested against page lines; empty: no test
  CStr filespec;     // pattern every collected link must match; empty: none
  CStr startHost;    // host of the start URL, for host confinement
  int depth = 0;     // levels of links scanned below the start page
  int print = 0;     // print each page or link that qualifies
  int download = 0;  // save each page or link that qualifies
  int create = 0;    // saving first creates the URL's directory
  int confine = 0;   // every request is checked against startHost's domain
  int stat = 0;      // print the counters line at the end
  int timeout = 60;  // seconds a connection may stay silent; 1 to 86400
  int once = 0;      // request each URL at most once (the page scan's requests)
  int jobs = 1;      // requests in flight at once, 1 to 64

  // Counters.
  int saves = 0;    // response bodies saved
  int prints = 0;   // URLs printed
  int hits = 0;     // response headers read: answers, redirects and error statuses
  int http200 = 0;  // answers with a 2xx status (or none), which were read on
  int errors = 0;   // every failure reported: URLs, connections, TLS, statuses,
                    // transfers and saves
};

extern RunSettings runSettings;

constexpr int kLineBufferSize = 1024;
extern char LineBuffer[kLineBufferSize];

// Writes "Saves(..) Prints(..) Hits(..) HTTP 200(..%) Errors(..)" and a
// newline on standard output and flushes. The percentage is 0 without hits.
void PrintCounters();

// Puts every option and counter back to its start value (for tests).
void ResetRunSettings();

#endif  // FERRET_APP_SETTINGS_H_
