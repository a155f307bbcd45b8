#include "app/CommandLine.h"

#include <strings.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <iostream>

#include "app/Report.h"
#include "app/Settings.h"
#include "app/Urls.h"

namespace {

enum class Option { Depth, Keyword, Filespec, Print, Download, Create, Confine, Stat, Unknown };

// In the order in which names are compared; the first equal name wins.
constexpr struct {
  const char* name;
  Option option;
} kOptions[] = {
    {"-d", Option::Depth},         {"-k", Option::Keyword},         {"-f", Option::Filespec},
    {"-print", Option::Print},     {"-download", Option::Download}, {"-create", Option::Create},
    {"-confine", Option::Confine}, {"-stat", Option::Stat},
};

Option Lookup(const char* argument) {
  for (const auto& entry : kOptions) {
    if (strcasecmp(argument, entry.name) == 0) return entry.option;
  }
  return Option::Unknown;
}

bool TakesValue(Option option) {
  return option == Option::Depth || option == Option::Keyword || option == Option::Filespec;
}

// atoi's reading of a depth, kept within int instead of overflowing.
int ReadDepth(const char* text) {
  long value = std::strtol(text, nullptr, 10);
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

void Apply(Option option, const char* value) {
  RunSettings& s = runSettings;
  switch (option) {
    case Option::Depth: s.depth = ReadDepth(value); break;
    case Option::Keyword: s.keyword = value; break;
    case Option::Filespec: s.filespec = value; break;
    case Option::Print: s.print = 1; break;
    case Option::Download: s.download = 1; break;
    case Option::Create:
      s.create = 1;
      s.download = 1;
      break;
    case Option::Confine: s.confine = 1; break;
    case Option::Stat: s.stat = 1; break;
    case Option::Unknown: break;
  }
}

void ApplyImpliedActions() {
  RunSettings& s = runSettings;
  if (s.stat || s.download || s.print) return;
  if (!s.keyword.IsEmpty()) s.print = 1;
  if (!s.filespec.IsEmpty()) s.download = 1;
}

void ApplyDefaultPatterns() {
  RunSettings& s = runSettings;
  if (!s.keyword.IsEmpty() && s.filespec.IsEmpty()) s.filespec = ".";
  if (s.keyword.IsEmpty() && s.filespec.IsEmpty()) {
    s.filespec = ".";
    s.keyword = ".";
  }
  if (s.keyword == "*") s.keyword = ".";
  if (s.filespec == "*") s.filespec = ".";
}

}  // namespace

void PrintUsage() {
  std::cout << "Ferret 1.0 BETA" << std::endl;
  std::cout << "FORMAT: Ferret url [-k keyword] [-f filespec] [-d depth] [-print]" << std::endl;
  std::cout << "                   [-download] [-create] [-confine] [-stat]\n" << std::endl;
  if (std::time(nullptr) % 666 == 0) std::cout << "Woof!" << std::endl;
}

int ParseCommandLine(int argc, const char* const* argv, CStr& startUrl) {
  if (argc <= 1) {
    PrintUsage();
    return -1;
  }
  // Strings hold at most 65530 characters; a longer argument would end the
  // process instead of being refused.
  for (int i = 1; i < argc; ++i) {
    size_t length = std::strlen(argv[i]);
    if (length > kMaxUrlLength) {
      ReportFailure(nullptr, "Argument too long (%zu characters): %.40s...\n", length, argv[i]);
      return -1;
    }
  }
  startUrl = argv[1];
  for (int i = 2; i < argc; ++i) {
    errno = 0;
    Option option = Lookup(argv[i]);
    bool missingValue = TakesValue(option) && i + 1 >= argc;
    if (option == Option::Unknown || missingValue) {
      int err = errno;
      ReportFailure(SystemErrorText(err), "What the heck is %s?\n", argv[i]);
      startUrl = "";
      return -1;
    }
    Apply(option, TakesValue(option) ? argv[++i] : nullptr);
  }
  ApplyImpliedActions();
  ApplyDefaultPatterns();
  return 0;
}
