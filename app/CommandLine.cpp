#include "app/CommandLine.h"

#include <strings.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
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
  Html,
  Text,
  Agent,
  Header,
  NoParent,
  Accept,
  Reject,
  MaxPages,
  Tries,
  Robots,
  Wait,
  PerHost,
  Warc,
  Show,
  Json,
  Shard,
  State,
};

// In the order in which names are compared; the first equal name wins.
struct OptionName {
  const char* name;
  Option option;
};
constexpr OptionName kOptions[] = {
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
    {"-html", Option::Html},
    {"-text", Option::Text},
    {"-agent", Option::Agent},
    {"-header", Option::Header},
    {"-noparent", Option::NoParent},
    {"-accept", Option::Accept},
    {"-reject", Option::Reject},
    {"-maxpages", Option::MaxPages},
    {"-tries", Option::Tries},
    {"-robots", Option::Robots},
    {"-wait", Option::Wait},
    {"-perhost", Option::PerHost},
    {"-warc", Option::Warc},
    {"-show", Option::Show},
    {"-json", Option::Json},
    {"-shard", Option::Shard},
    {"-state", Option::State},
};

// The entry whose name equals argument in any letter case; null for none.
const OptionName* Lookup(const char* argument) {
  for (const auto& entry : kOptions) {
    if (strcasecmp(argument, entry.name) == 0) return &entry;
  }
  return nullptr;
}

bool TakesValue(Option option) {
  return option == Option::Depth || option == Option::Keyword || option == Option::Filespec ||
         option == Option::Timeout || option == Option::Jobs || option == Option::Agent ||
         option == Option::Header || option == Option::Accept || option == Option::Reject ||
         option == Option::MaxPages || option == Option::Tries || option == Option::Wait ||
         option == Option::PerHost || option == Option::Warc || option == Option::Shard ||
         option == Option::State;
}

// A whole number from 1 to most, written in decimal and nothing else; 0
// when the text is not one. The counts (-j, -tries, -maxpages) and seconds
// (-timeout) the options take.
long ReadCount(const char* text, long most) {
  char* end = nullptr;
  errno = 0;
  long value = std::strtol(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || value < 1 || value > most) return 0;
  return value;
}

// Seconds, fractions allowed, from 0 to an hour, written as a decimal
// number and nothing else; -1 when the text is not one.
double ReadSeconds(const char* text) {
  size_t digits = std::strspn(text, "0123456789");
  bool fraction = text[digits] == '.';
  size_t more = fraction ? std::strspn(text + digits + 1, "0123456789") : 0;
  if (digits + more == 0 || text[digits + (fraction ? 1 + more : 0)] != '\0') return -1;
  double value = std::strtod(text, nullptr);
  return value <= 3600 ? value : -1;
}

// atoi's reading of a depth, kept within int instead of overflowing.
int ReadDepth(const char* text) {
  long value = std::strtol(text, nullptr, 10);
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

// "K/N": shard K (0 to N - 1) of N (1 to 65536); shards left 0 otherwise.
void ReadShard(const char* text, Options& s) {
  s.shards = 0;
  const char* slash = std::strchr(text, '/');
  if (slash == nullptr || slash == text || std::strspn(text, "0123456789") != size_t(slash - text))
    return;
  long count = ReadCount(slash + 1, 65536);
  long index = std::strtol(text, nullptr, 10);
  if (count == 0 || index >= count) return;
  s.shard = static_cast<int>(index);
  s.shards = static_cast<int>(count);
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
    case Option::Timeout: s.timeout = static_cast<int>(ReadCount(value, 86400)); break;
    case Option::Once: s.once = 1; break;
    case Option::Jobs: s.jobs = static_cast<int>(ReadCount(value, 64)); break;
    case Option::Html: s.html = 1; break;
    case Option::Agent: s.agent = value; break;
    case Option::NoParent: s.noparent = 1; break;
    case Option::Accept: s.accept.push_back(value); break;
    case Option::Reject: s.reject.push_back(value); break;
    case Option::MaxPages: s.maxPages = ReadCount(value, 1000000000); break;
    case Option::Tries: s.tries = static_cast<int>(ReadCount(value, 100)); break;
    case Option::Robots: s.robots = 1; break;
    case Option::Wait: s.wait = ReadSeconds(value); break;
    case Option::PerHost: s.perHost = static_cast<int>(ReadCount(value, 64)); break;
    case Option::Header: s.headers.push_back(value); break;
    case Option::Warc: s.warc = value; break;
    case Option::Json: s.json = 1; break;
    case Option::Shard: ReadShard(value, s); break;
    case Option::State: s.state = value; break;
    case Option::Show:
      s.show = value != nullptr ? static_cast<int>(ReadCount(value, 100)) : 5;
      break;
    case Option::Text:
      s.text = 1;
      s.html = 1;
      break;
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
#ifndef FERRET_VERSION
#error "FERRET_VERSION must be defined by the build"
#endif

// The name and version, then the synopsis: every option.
constexpr const char* kUsageLines[] = {
    "ferret " FERRET_VERSION,
    "FORMAT: ferret url [-k keyword] [-f filespec] [-d depth] [-print]",
    "                   [-download] [-create] [-confine] [-stat]",
    "                   [-timeout S] [-once] [-j N] [-html] [-text]",
    "                   [-noparent] [-accept REGEX]... [-reject REGEX]...",
    "                   [-maxpages N] [-tries N] [-robots] [-wait S]",
    "                   [-perhost N] [-agent TEXT]",
    "                   [-header \"Name: value\"]... [-warc FILE] [-show [N]] [-json]",
    "                   [-i FILE] [-shard K/N] [-state FILE]",
};

// Printed after the usage lines by -help; the man page has the whole story.
constexpr const char kHelpText[] =
    "        ferret -help | -version\n"
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
    "  -html        read links as a browser does (every element, <base>, entities),\n"
    "               print them absolute and normalised, test -f on that URL, and\n"
    "               test -k on whole lines; in file mode follow every page link\n"
    "  -text        test -k on the text a reader sees, not the HTML (implies -html)\n"
    "  -noparent    request only URLs at or below the start URL's directory\n"
    "  -accept REGEX, -reject REGEX\n"
    "               request only URLs (absolute, normalised) that match an -accept\n"
    "               pattern, if any is given, and no -reject pattern (repeatable)\n"
    "  -maxpages N  request at most N pages, then finish and stop\n"
    "  -tries N     try a URL up to N times in all when it fails in passing (a refused\n"
    "               or reset connection, a timeout, 408, 429, 500, 502, 503, 504),\n"
    "               waiting 1, 2, 4... s (at most 60) or as Retry-After says\n"
    "  -robots      obey each server's robots.txt (the group for ferret, else *)\n"
    "  -wait S      wait S seconds (fractions allowed) between the end of one request\n"
    "               to a host and the start of the next\n"
    "  -perhost N   at most N requests to one host at once (default: as -j)\n"
    "  -agent TEXT  send TEXT as the User-Agent (default ferret/<version>)\n"
    "  -header \"Name: value\"\n"
    "               send this field too (repeatable), only to the start URL's\n"
    "               registrable domain, and never over http from an https start\n"
    "  -warc FILE   archive every request and answer in FILE as WARC/1.1 (each record\n"
    "               compressed when FILE ends in .gz), indexed in FILE.cdxj\n"
    "  -show [N]    after each printed page, its first N matching lines (default 5,\n"
    "               1 to 100), numbered, cut to 200 bytes around the match\n"
    "  -json        write JSON Lines on standard output instead: an event for each\n"
    "               page, link, save, error and refused URL, then the counters\n"
    "  -i FILE      first, in place of url: crawl each URL of FILE (one a line, or\n"
    "               \"URL DEPTH\"; # comments; - is standard input) in turn\n"
    "  -shard K/N   with -json: request only hosts whose domain hashes to shard K\n"
    "               (0 to N-1); write each link to another shard as an outlink\n"
    "  -state FILE  keep the crawl's state in FILE (SQLite); the same command run\n"
    "               again after an interruption resumes where it stopped\n"
    "With none of -print, -download and -stat, -k implies -print and -f implies\n"
    "-download. See ferret(1) for the details.\n";

bool IsAnyOf(const char* argument, std::initializer_list<const char*> names) {
  for (const char* name : names) {
    if (strcasecmp(argument, name) == 0) return true;
  }
  return false;
}

// "ferret: " and the message on standard error, where a refused command line
// is reported; standard output stays empty.
void Refuse(const char* format, ...) __attribute__((format(printf, 1, 2)));
void Refuse(const char* format, ...) {
  std::fputs("ferret: ", stderr);
  va_list args;
  va_start(args, format);
  std::vfprintf(stderr, format, args);
  va_end(args);
  std::fputc('\n', stderr);
}

// Text for a field value: not empty, and without a line end (which would
// start a field, or a request, of the text's own).
bool IsOneLine(const std::string& text) {
  return !text.empty() && text.find_first_of("\r\n") == std::string::npos;
}

// The fields the request itself must write, which another value would
// break: the host asked, how the answer is framed and coded, who asks.
bool Reserved(const std::string& name) {
  for (const char* reserved : {"Host", "Content-Length", "Transfer-Encoding", "Connection",
                               "Accept-Encoding", "User-Agent", "Proxy-Authorization"}) {
    if (strcasecmp(name.c_str(), reserved) == 0) return true;
  }
  return false;
}

// A -header value is "Name: value": a field name (RFC 9110 token), a colon
// and one line; false (the refusal written) otherwise.
bool HeaderAllowed(const std::string& header) {
  size_t colon = header.find(':');
  const char* token = "!#$%&'*+-.^_`|~";
  bool named = colon != std::string::npos && colon > 0;
  for (size_t i = 0; named && i < colon; ++i) {
    unsigned char c = static_cast<unsigned char>(header[i]);
    named = std::isalnum(c) || std::strchr(token, c) != nullptr;
  }
  if (!named || header.find_first_of("\r\n") != std::string::npos) {
    Refuse("-header must be \"Name: value\" on one line");
    return false;
  }
  if (Reserved(header.substr(0, colon))) {
    Refuse("-header cannot set %s", header.substr(0, colon).c_str());
    return false;
  }
  return true;
}

void PrintUsageLines() {
  for (const char* line : kUsageLines) std::cout << line << '\n';
}

// What is wrong with the value option just gave options, if anything.
const char* ValueProblem(Option option, const Options& s) {
  switch (option) {
    case Option::Timeout: return s.timeout == 0 ? "-timeout must be 1 to 86400" : nullptr;
    case Option::Jobs: return s.jobs == 0 ? "-j must be 1 to 64" : nullptr;
    case Option::Wait: return s.wait < 0 ? "-wait must be 0 to 3600 seconds" : nullptr;
    case Option::PerHost: return s.perHost == 0 ? "-perhost must be 1 to 64" : nullptr;
    case Option::Tries: return s.tries == 0 ? "-tries must be 1 to 100" : nullptr;
    case Option::MaxPages: return s.maxPages == 0 ? "-maxpages must be 1 to 1000000000" : nullptr;
    case Option::Agent: return IsOneLine(s.agent) ? nullptr : "-agent must be one line of text";
    case Option::Warc: return s.warc.empty() ? "-warc needs a file name" : nullptr;
    case Option::State: return s.state.empty() ? "-state needs a file name" : nullptr;
    case Option::Show: return s.show == 0 ? "-show must be 1 to 100" : nullptr;
    case Option::Shard:
      return s.shards == 0 ? "-shard must be K/N, N from 1 to 65536 and K from 0 to N-1" : nullptr;
    default: return nullptr;
  }
}

// Reads the options after the URL into options. False once one is refused
// (the message written).
bool ReadOptions(int argc, const char* const* argv, int first, Options& options) {
  for (int i = first; i < argc; ++i) {
    const char* argument = argv[i];
    const OptionName* entry = Lookup(argument);
    if (entry == nullptr) {
      if (strcasecmp(argument, "-i") == 0) {
        Refuse("-i FILE comes first, in place of the URL");
      } else if (argument[0] == '-') {
        Refuse("unknown option %s; see --help", argument);
      } else {
        Refuse("unexpected argument %s; see --help", argument);
      }
      return false;
    }
    bool takesValue = TakesValue(entry->option);
    if (takesValue && i + 1 >= argc) {
      Refuse("%s needs a value", entry->name);
      return false;
    }
    // -show's count is optional: a word after the URL that begins with a
    // digit could be nothing else.
    takesValue = takesValue || (entry->option == Option::Show && i + 1 < argc &&
                                std::isdigit(static_cast<unsigned char>(argv[i + 1][0])));
    Apply(entry->option, takesValue ? argv[++i] : nullptr, options);
    if (const char* problem = ValueProblem(entry->option, options)) {
      Refuse("%s", problem);
      return false;
    }
    if (entry->option == Option::Header && !HeaderAllowed(options.headers.back())) return false;
  }
  return true;
}

}  // namespace

void PrintUsage() {
  PrintUsageLines();
  std::cout << std::endl;
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
      Refuse("argument too long (%zu characters)", length);
      return -1;
    }
  }
  // A URL never begins with '-': such a first argument asks for help or the
  // version, names the list of start URLs (-i FILE) in the URL's place, or
  // is refused before anything could take it for a host name.
  if (argv[1][0] == '-') {
    if (IsAnyOf(argv[1], {"-h", "-help", "--help"})) {
      PrintUsageLines();
      std::cout << kHelpText << std::flush;
      return 1;
    }
    if (IsAnyOf(argv[1], {"-version", "--version"})) {
      std::cout << "ferret " FERRET_VERSION << std::endl;
      return 1;
    }
    if (strcasecmp(argv[1], "-i") != 0) {
      Refuse("the URL must come first; see --help");
      return -1;
    }
    if (argc < 3) {
      Refuse("-i needs a value");
      return -1;
    }
    options.startList = argv[2];
  }
  if (!ReadOptions(argc, argv, options.startList.empty() ? 2 : 3, options)) return -1;
  // Outlinks are events of the JSON output: a sharded run without it would
  // drop them unseen.
  if (options.shards != 0 && !options.json) {
    Refuse("-shard needs -json");
    return -1;
  }
  if (options.startList.empty()) startUrl = argv[1];
  for (int i = 0; i < argc; ++i) {
    if (i > 0) options.commandLine += ' ';
    options.commandLine += argv[i];
  }
  // What a state file is kept for: every argument after the program's name
  // but -state's own pair, each ended by a NUL so that no two differ alike.
  for (int i = 1; i < argc; ++i) {
    if (strcasecmp(argv[i], "-state") == 0 && i + 1 < argc) {
      ++i;
      continue;
    }
    options.stateIdentity.append(argv[i]).push_back('\0');
  }
  ApplyImpliedActions(options);
  ApplyDefaultPatterns(options);
  return 0;
}
