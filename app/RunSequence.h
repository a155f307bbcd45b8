// RunCrawl: one whole run once the command line is parsed.
//
// Starts the socket layer, records the start host for host confinement,
// saves the start URL first when both patterns are "." and saving is on,
// scans from the start URL, prints the counters line when asked, and stops
// the socket layer.
#ifndef FERRET_APP_RUNSEQUENCE_H_
#define FERRET_APP_RUNSEQUENCE_H_

#include "text/CStr.h"

void RunCrawl(CStr startUrl);

#endif  // FERRET_APP_RUNSEQUENCE_H_
