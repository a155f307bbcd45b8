// Ferret: a command-line web crawler. See README.md for the options.
#include "app/CommandLine.h"
#include "app/RunSequence.h"
#include "text/CStr.h"

int main(int argc, char** argv) {
  CStr startUrl;
  int parsed = ParseCommandLine(argc, argv, startUrl);
  if (parsed < 0) return -1;
  if (parsed > 0) return 0;  // help or version shown
  RunCrawl(startUrl);
  return 0;
}
