// RunCrawl: one whole run once the command line is parsed.
//
// Refuses patterns that do not compile before any request, gives the socket
// layer the run's silence timeout, records the start host for host
// confinement, saves the start URL first when both patterns are "." and
// saving is on, scans from the start URL, prints the counters line when
// asked, and tells how the run went.
//
// With -i the starts of the list (app/StartList.h) are crawled so in turn,
// each with its own start host, scope, robots.txt and kept connections,
// sharing the output and counters, the archive, the pacing of hosts and
// -once's record; a bad line is a counted error naming its number. Under
// -shard a start of another shard is handed on as an outlink, unasked.
#ifndef FERRET_APP_RUNSEQUENCE_H_
#define FERRET_APP_RUNSEQUENCE_H_

#include "app/Options.h"
#include "text/CStr.h"

// The process's exit statuses.
constexpr int kExitSuccess = 0;       // no error was counted
constexpr int kExitSomeFailed = 1;    // errors were counted; the start URL was fetched
constexpr int kExitStartFailed = 2;   // the start URL itself failed (-i: every start did)
constexpr int kExitOutputFailed = 3;  // standard output could not be written
constexpr int kExitUsage = 255;       // the command line or a pattern was refused
constexpr int kExitSignalBase = 128;  // + the signal that stopped the run (130, 143)

// The exit status of the run.
int RunCrawl(const Options& options, CStr startUrl);

#endif  // FERRET_APP_RUNSEQUENCE_H_
