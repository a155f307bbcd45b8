// The command line: usage text, option parsing and the default patterns.
//
// ParseCommandLine fills an Options from argv. The first argument is the
// start URL, or one of -h, -help, --help, -version, --version. Options are
// compared without regard to letter case: "-d" depth, "-k" keyword, "-f"
// filespec, "-print", "-download", "-create" (implies download), "-confine",
// "-stat", "-timeout" seconds of silence allowed (1 to 86400), "-once", "-j"
// parallel requests (1 to 64), "-html", "-text", "-agent" the User-Agent (one
// line), "-header" a "Name: value" field (repeatable; not one the request
// writes itself), "-warc" the archive's file name. "-d", "-k", "-f",
// "-timeout", "-j", "-agent", "-header" and "-warc" (among others) take the
// next argument as their value. Then, when none of stat, download and
// print is set, a keyword implies print and a filespec implies download;
// finally the default patterns are filled in.
// "-i FILE" in place of the URL (first, then its value) names a list of
// start URLs instead (options.startList; startUrl is left empty). "-shard"
// takes "K/N" (N from 1 to 65536, K from 0 to N-1) and needs "-json"
// ("-shard needs -json" otherwise).
// "-show" asks for the matching lines of each printed page: 5, or the next
// argument when it begins with a digit (1 to 100).
#ifndef FERRET_APP_COMMANDLINE_H_
#define FERRET_APP_COMMANDLINE_H_

#include "app/Options.h"
#include "text/CStr.h"

// Writes the usage text (the name and version, the synopsis of every option,
// an empty line and, when the time in seconds is a multiple of 666, "Woof!")
// on standard output.
void PrintUsage();

// 0 with startUrl and options complete: run the crawl. 1 after the help
// text (first argument -h, -help or --help: the usage lines and a line for
// each option) or "ferret <version>" (-version, --version): nothing to run,
// the exit status is 0. -1 after the usage text (no arguments), or after one
// line "ferret: <what is wrong>" on standard error, with nothing on standard
// output and startUrl left empty, for: an argument longer than kMaxUrlLength
// ("argument too long (N characters)"), a first argument that begins with
// '-' and is none of those ("the URL must come first; see --help"), an
// unknown option ("unknown option X; see --help"), a word after the URL that
// is no option ("unexpected argument X; see --help"), a value option given
// last ("-d needs a value"), a -timeout or -j value out of its range
// ("-timeout must be 1 to 86400", "-j must be 1 to 64"), an -agent of no
// text or more than a line ("-agent must be one line of text"), and a
// -header that is no field ("-header must be \"Name: value\" on one line")
// or one the request writes itself ("-header cannot set Host"). A -show
// count out of its range is refused too ("-show must be 1 to 100").
int ParseCommandLine(int argc, const char* const* argv, Options& options, CStr& startUrl);

#endif  // FERRET_APP_COMMANDLINE_H_
