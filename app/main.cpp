// Ferret: a command-line web crawler. See README.md for the options.
#include "app/CommandLine.h"
#include "app/RunSequence.h"
#include "text/CStr.h"

int main(int argc, char** argv) {
  CStr startUrl;
  if (ParseCommandLine(argc, argv, startUrl) != 0) return -1;
  RunCrawl(startUrl);
  return 0;
}
