// The command line: usage text, option parsing and the default patterns.
//
// ParseCommandLine fills an Options from argv. The first argument is the
// start URL, or one of -h, -help, --help, -version, --version. Options are
// compared without regard to letter case: "-d" depth, "-k" keyword, "-f"
// filespec, "-print", "-download", "-create" (implies download), "-confine",
// "-stat", "-timeout" seconds of silence allowed (1 to 86400), "-once", "-j"
// parallel requests (1 to 64). "-d", "-k", "-f", "-timeout" and "-j" take
// the next argument as their value. Then, when none of stat, download and
// print is set, a keyword implies print and a filespec implies download;
// finally the default patterns are filled in.
#ifndef FERRET_APP_COMMANDLINE_H_
#define FERRET_APP_COMMANDLINE_H_

#include "app/Options.h"
#include "text/CStr.h"

// Writes the usage text (and, when the time in seconds is a multiple of 666,
// "Woof!") on standard output.
void PrintUsage();

// 0 with startUrl and options complete: run the crawl. 1 after the help
// text (first argument -h, -help or --help) or "ferret <version>" (-version,
// --version): nothing to run, the exit status is 0. -1 after the usage text
// (no arguments), "What the heck is %s?" (a first argument that begins with
// '-' and is none of those, an argument not understood, a value option
// with no value after it, or a -timeout or -j value out of its range) or an
// argument longer than kMaxUrlLength.
int ParseCommandLine(int argc, const char* const* argv, Options& options, CStr& startUrl);

#endif  // FERRET_APP_COMMANDLINE_H_
