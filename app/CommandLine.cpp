#include "app/CommandLine.h"

#include <strings.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <initializer_list>
#include <iostream>

#include "net/Url.h"

namespace {

enum class Option {
  Depth,
  Keyword,
  Filespec,
  Print,
  Download,
  Create,
  Confine,
  Stat,
  Timeout,
  Once,
  Jobs,
  Unknown
};

// In the order in which names are compared; the first equal name wins.
constexpr struct {
  const char* name;
  Option option;
} kOptions[] = {
    {"-d", Option::Depth},
    {"-k", Option::Keyword},
    {"-f", Option::Filespec},
    {"-print", Option::Print},
    {"-download", Option::Download},
    {"-create", Option::Create},
    {"-confine", Option::Confine},
    {"-stat", Option::Stat},
    {"-timeout", Option::Timeout},
    {"-once", Option::Once},
    {"-j", Option::Jobs},
};

Option Lookup(const char* argument) {
  for (const auto& entry : kOptions) {
    if (strcasecmp(argument, entry.name) == 0) return entry.option;
  }
  return Option::Unknown;
}

bool TakesValue(Option option) {
  return option == Option::Depth || option == Option::Keyword || option == Option::Filespec ||
         option == Option::Timeout || option == Option::Jobs;
}

// A count of parallel requests, 1 to 64; 0 when the text is not one.
int ReadJobs(const char* text) {
  char* end = nullptr;
  errno = 0;
  long value = std::strtol(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || value < 1 || value > 64) return 0;
  return static_cast<int>(value);
}

// Seconds of silence allowed: a whole number from 1 to a day; 0 when the text
// is not one.
int ReadTimeout(const char* text) {
  char* end = nullptr;
  errno = 0;
  long value = std::strtol(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || value < 1 || value > 86400) return 0;
  return static_cast<int>(value);
}

// atoi's reading of a depth, kept within int instead of overflowing.
int ReadDepth(const char* text) {
  long value = std::strtol(text, nullptr, 10);
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

void Apply(Option option, const char* value, Options& s) {
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
    case Option::Timeout: s.timeout = ReadTimeout(value); break;
    case Option::Once: s.once = 1; break;
    case Option::Jobs: s.jobs = ReadJobs(value); break;
    case Option::Unknown: break;
  }
}

void ApplyImpliedActions(Options& s) {
  if (s.stat || s.download || s.print) return;
  if (!s.keyword.IsEmpty()) s.print = 1;
  if (!s.filespec.IsEmpty()) s.download = 1;
}

void ApplyDefaultPatterns(Options& s) {
  if (!s.keyword.IsEmpty() && s.filespec.IsEmpty()) s.filespec = ".";
  if (s.keyword.IsEmpty() && s.filespec.IsEmpty()) {
    s.filespec = ".";
    s.keyword = ".";
  }
  if (s.keyword == "*") s.keyword = ".";
  if (s.filespec == "*") s.filespec = ".";
}

// The version comes from the build (the CMake project version).
#if !defined(FERRET_VERSION) || !defined(FERRET_VERSION_SHORT)
#error "FERRET_VERSION and FERRET_VERSION_SHORT must be defined by the build"
#endif

constexpr const char* kUsageLines[] = {
    "Ferret " FERRET_VERSION_SHORT " BETA",
    "FORMAT: Ferret url [-k keyword] [-f filespec] [-d depth] [-print]",
    "                   [-download] [-create] [-confine] [-stat]",
};

// Printed after the usage lines by -help; the man page has the whole story.
constexpr const char kHelpText[] =
    "                   [-timeout S] [-once] [-j N]\n"
    "        Ferret -help | -version\n"
    "\n"
    "url is http://host[:port]/path or https://host[:port]/path (http:// may be\n"
    "left out). Option names may be written in any letter case.\n"
    "  -k keyword   print (or save) each HTML page with a line matching keyword\n"
    "  -f filespec  keep only links matching filespec; without -k, print or save\n"
    "               those links themselves\n"
    "  -d depth     follow links this many levels below the start page (default 0)\n"
    "  -print       print the URL of each page or link that qualifies\n"
    "  -download    save each page or link that qualifies in the current directory\n"
    "  -create      save under directories named after the URL (implies -download)\n"
    "  -confine     request only hosts in the start host's registrable domain\n"
    "  -stat        print the counters line at the end of the run\n"
    "  -timeout S   give up on a server that is silent for S seconds (default 60)\n"
    "  -once        request each page at most once, and save or print each file once\n"
    "  -j N         make up to N requests at a time, 1 to 64 (default 1); output as with 1\n"

    "With none of -print, -download and -stat, -k implies -print and -f implies\n"
    "-download. See ferret(1) for the details.\n";

bool IsAnyOf(const char* argument, std::initializer_list<const char*> names) {
  for (const char* name : names) {
    if (strcasecmp(argument, name) == 0) return true;
  }
  return false;
}

// The line goes to standard output; then, when the refusal has a reason from
// the system, the reason follows on standard error.
void Refuse(const char* reason, const char* format, ...) __attribute__((format(printf, 2, 3)));
void Refuse(const char* reason, const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vprintf(format, args);
  va_end(args);
  if (reason != nullptr) {
    std::fflush(stdout);  // keep the message ahead of its reason
    std::fprintf(stderr, "%s\n", reason);
  }
}

void PrintHelp() {
  for (const char* line : kUsageLines) std::cout << line << '\n';
  std::cout << kHelpText << std::flush;
}

}  // namespace

void PrintUsage() {
  std::cout << kUsageLines[0] << std::endl;
  std::cout << kUsageLines[1] << std::endl;
  std::cout << kUsageLines[2] << "\n" << std::endl;
  if (std::time(nullptr) % 666 == 0) std::cout << "Woof!" << std::endl;
}

int ParseCommandLine(int argc, const char* const* argv, Options& options, CStr& startUrl) {
  if (argc <= 1) {
    PrintUsage();
    return -1;
  }
  // Strings hold at most 65530 characters; a longer argument would end the
  // process instead of being refused.
  for (int i = 1; i < argc; ++i) {
    size_t length = std::strlen(argv[i]);
    if (length > kMaxUrlLength) {
      Refuse(nullptr, "Argument too long (%zu characters): %.40s...\n", length, argv[i]);
      return -1;
    }
  }
  // A URL never begins with '-': such a first argument asks for help or the
  // version, or is refused before anything could take it for a host name.
  if (argv[1][0] == '-') {
    if (IsAnyOf(argv[1], {"-h", "-help", "--help"})) {
      PrintHelp();
      return 1;
    }
    if (IsAnyOf(argv[1], {"-version", "--version"})) {
      std::cout << "ferret " FERRET_VERSION << std::endl;
      return 1;
    }
    Refuse(nullptr, "What the heck is %s?\n", argv[1]);
    return -1;
  }
  startUrl = argv[1];
  for (int i = 2; i < argc; ++i) {
    errno = 0;
    Option option = Lookup(argv[i]);
    bool missingValue = TakesValue(option) && i + 1 >= argc;
    if (option == Option::Unknown || missingValue) {
      int err = errno;
      Refuse(err != 0 ? std::strerror(err) : nullptr, "What the heck is %s?\n", argv[i]);
      startUrl = "";
      return -1;
    }
    Apply(option, TakesValue(option) ? argv[++i] : nullptr, options);
    if ((option == Option::Timeout && options.timeout == 0) ||
        (option == Option::Jobs && options.jobs == 0)) {
      Refuse(nullptr, "What the heck is %s?\n", argv[i]);
      startUrl = "";
      return -1;
    }
  }
  ApplyImpliedActions(options);
  ApplyDefaultPatterns(options);
  return 0;
}
