#include "regex/RegexpProgram.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

#include "regex/LiteralSet.h"
#include "regex/RegexpEmitter.h"
#include "regex/RegexpParser.h"

namespace {

bool IsAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

char ToUpper(char c) { return c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c; }
char ToLower(char c) { return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c; }

char* EmitFolded(char c, char* out) {
  *out++ = '[';
  *out++ = ToUpper(c);
  *out++ = ToLower(c);
  *out++ = ']';
  return out;
}

// The end of the set whose '[' is at open, read as the parser reads it: a
// ']' right after "[" or "[^" is a member, backslashes are members, and the
// first ']' after that closes the set. Points at the NUL of an unterminated
// set.
const char* SetEnd(const char* open) {
  const char* at = open + 1;
  if (*at == '^') ++at;
  if (*at == ']') ++at;
  while (*at != '\0' && *at != ']') ++at;
  return at;
}

}  // namespace

void FoldCase(const char* pattern, char* out) {
  while (*pattern != '\0') {
    char c = *pattern;
    if (c == '[') {
      const char* end = SetEnd(pattern);
      if (*end == ']') ++end;
      while (pattern != end) *out++ = *pattern++;
      continue;
    }
    if (c == '\\' && IsAsciiLetter(pattern[1])) {
      // An escaped letter is that letter, and folds like it.
      out = EmitFolded(pattern[1], out);
      pattern += 2;
      continue;
    }
    if (c == '\\' && pattern[1] != '\0') {
      *out++ = *pattern++;
      *out++ = *pattern++;
      continue;
    }
    if (IsAsciiLetter(c))
      out = EmitFolded(c, out);
    else
      *out++ = c;
    ++pattern;
  }
  *out = '\0';
}

RegexpProgram::RegexpProgram() = default;

RegexpProgram::RegexpProgram(const char* pattern, int foldCase) {
  if (foldCase == 0 || pattern == nullptr) {
    compiledOK = Compile(pattern);
    return;
  }
  size_t length = std::strlen(pattern);
  // Every character becomes at most four; the size cannot overflow.
  char* folded =
      length <= (SIZE_MAX - 1) / 4 ? static_cast<char*>(std::malloc(4 * length + 1)) : nullptr;
  if (folded == nullptr) {
    // A pattern too large to fold could never fit a program either.
    status.SetError(11);
    return;
  }
  FoldCase(pattern, folded);
  compiledOK = Compile(folded);
  std::free(folded);
}

RegexpProgram::~RegexpProgram() {
  delete[] program;
  delete literalScan;
  delete[] literalGuard;
}

bool RegexpProgram::Compile(const char* pattern) {
  if (pattern == nullptr) {
    status.SetError(10);
    return false;
  }
  int flags;
  RegexpSizer sizer(pattern);
  if (!ParseRegexp(sizer, &flags)) {
    status = sizer.status;
    return false;
  }
  if (sizer.Size() >= static_cast<size_t>(kRegexpMaxSize)) {
    status.SetError(11);
    return false;
  }
  programSize = static_cast<int>(sizer.Size());
  program = new (std::nothrow) char[programSize];
  if (program == nullptr) {
    status.SetError(11);  // the nearest code for a program we cannot hold
    return false;
  }
  RegexpWriter writer(pattern, program);
  if (!ParseRegexp(writer, &flags)) {
    status = writer.status;
    delete[] program;
    program = nullptr;
    return false;
  }
  groups = writer.nextGroup - 1;
  FindSearchData(flags);
  FindLiterals();
  FindReplayEnd();
  return true;
}

// With a single top-level alternative: the first character, the anchor or
// the first set of its first node, and, when the pattern begins with a repetition, the
// longest literal on the top-level chain (the later one of equal lengths).
void RegexpProgram::FindSearchData(int flags) {
  const char* first = program + 1;
  const char* after = NextNode(first);
  if (after == nullptr || NodeOp(after) != RegexpOp::Accept) return;
  const char* start = NodeOperand(first);
  if (NodeOp(start) == RegexpOp::Literal) {
    firstChar = *NodeOperand(start);
  } else if (NodeOp(start) == RegexpOp::LineStart) {
    anchored = true;
  } else if (NodeOp(start) == RegexpOp::InSet) {
    // "[Hh]" is how every folded pattern that starts with a letter begins.
    firstSet = NodeOperand(start);
  }
  FindPrefix(start);
  if (!(flags & RegexpFlags::LeadingRepeat)) return;
  for (const char* node = start; node != nullptr; node = NextNode(node)) {
    if (NodeOp(node) != RegexpOp::Literal) continue;
    int length = static_cast<int>(std::strlen(NodeOperand(node)));
    if (length >= requiredLength) {
      requiredLiteral = NodeOperand(node);
      requiredLength = length;
    }
  }
}

namespace {

void AddByte(uint64_t* set, unsigned char c) { set[c >> 6] |= uint64_t{1} << (c & 63); }

}  // namespace

// The byte sets of the leading one-character nodes and literal bytes of
// the chain from start, up to kPrefixMax characters.
void RegexpProgram::FindPrefix(const char* start) {
  const char* node = start;
  for (; node != nullptr && prefixLength < kPrefixMax; node = NextNode(node)) {
    const char* operand = NodeOperand(node);
    int op = NodeOp(node);
    if (op == RegexpOp::Literal) {
      for (; *operand != '\0' && prefixLength < kPrefixMax; ++operand)
        AddByte(prefix[prefixLength++], static_cast<unsigned char>(*operand));
      if (*operand != '\0') break;  // the literal goes on past the prefix
      SkipTo(NextNode(node));
      continue;
    }
    if (op != RegexpOp::InSet && op != RegexpOp::NotInSet && op != RegexpOp::AnyChar) break;
    uint64_t* set = prefix[prefixLength++];
    SkipTo(NextNode(node));
    if (op == RegexpOp::InSet) {
      for (const char* m = operand; *m != '\0'; ++m) AddByte(set, static_cast<unsigned char>(*m));
      continue;
    }
    for (int c = 1; c < 256; ++c) AddByte(set, static_cast<unsigned char>(c));
    if (op == RegexpOp::NotInSet)
      for (const char* m = operand; *m != '\0'; ++m) {
        unsigned char c = static_cast<unsigned char>(*m);
        set[c >> 6] &= ~(uint64_t{1} << (c & 63));
      }
  }
  prefixIsProgram = prefixLength > 0 && node != nullptr && NodeOp(node) == RegexpOp::Accept;
  guardLength = skipNode + 1;
  if (guardLength <= kGuardMax) {
    std::memcpy(guard, program, static_cast<size_t>(guardLength));
  } else {  // sets too large to keep a copy of: no shortcuts
    prefixIsProgram = false;
    skipNode = 1;
    skipLength = 0;
    guardLength = 0;
  }
  scan.Build(prefix, prefixLength);
}

void RegexpProgram::FindLiterals() {
  if (anchored || (prefixLength > 0 && scan.Checked() >= 2)) return;
  if (LiteralSet::EveryPathTakesOne(program, programSize)) BuildLiteralScan();
}

// About 23 KB of stack, left uninitialised, kept out of FindLiterals so
// that the compiles that stop there never set it up.
__attribute__((noinline)) void RegexpProgram::BuildLiteralScan() {
  LiteralSet literals;
  uint64_t windows[LiteralSet::kMax][MultiLiteralScan::kWidthMax][4];
  if (!literals.Find(program, programSize)) return;
  int width = 0, back = 0;
  double admitted = 1;
  int count = literals.Windows(windows, &width, &back, &admitted);
  // The prefix scan tests as many characters and its fit may be the match;
  // a window that fits a quarter of the positions or more saves too little
  // over trying them.
  bool narrow = prefixLength > 0 && width <= scan.Checked();
  if (count == 0 || narrow || admitted >= 0.25 ||
      !literals.Find(program, programSize, back + width))
    return;
  MultiLiteralScan found;
  found.Build(windows, count, width, back);
  KeepLiteralScan(found, program, literals.extent);
}

bool RegexpProgram::KeepLiteralScan(const MultiLiteralScan& found, const char* bytes, int extent) {
  literalScan = new (std::nothrow) MultiLiteralScan(found);
  literalGuard = new (std::nothrow) char[extent];
  if (literalScan == nullptr || literalGuard == nullptr) {
    delete literalScan;
    delete[] literalGuard;
    literalScan = nullptr;
    literalGuard = nullptr;
    return false;
  }
  std::memcpy(literalGuard, bytes, static_cast<size_t>(extent));
  literalExtent = extent;
  return true;
}

void RegexpProgram::SkipTo(const char* node) {
  if (node == nullptr) return;  // a damaged chain: attempts start at the top
  skipNode = static_cast<int>(node - program);
  skipLength = prefixLength;
}

// Walks the nodes in storage order: each is its header and, for the nodes
// with a text operand, that text and its NUL.
void RegexpProgram::FindReplayEnd() {
  int end = 0;
  for (int at = 1; at + 3 <= programSize;) {
    const char* node = program + at;
    int op = NodeOp(node);
    if (op == RegexpOp::Loop) {
      replayEnd = programSize;
      return;
    }
    at += 3;
    if (op == RegexpOp::InSet || op == RegexpOp::NotInSet || op == RegexpOp::Literal)
      at += static_cast<int>(std::strlen(program + at)) + 1;
    if (op > RegexpOp::GroupOpen && op < RegexpOp::GroupClose + kRegexpSlots) end = at;
  }
  replayEnd = end;
}

RegexpProgram* RegexpProgram::Share() {
  ++shareCount;
  return this;
}

void RegexpProgram::Release(RegexpProgram* program) {
  if (program == nullptr) return;
  if (program->shareCount == 0)
    delete program;
  else
    --program->shareCount;
}

RegexpProgram* RegexpProgram::PrivateCopy() const {
  RegexpProgram* copy = new (std::nothrow) RegexpProgram();
  if (copy == nullptr) return nullptr;
  if (program != nullptr) {
    copy->program = new (std::nothrow) char[programSize];
    if (copy->program == nullptr) {
      delete copy;
      return nullptr;
    }
    std::memcpy(copy->program, program, static_cast<size_t>(programSize));
  }
  copy->programSize = programSize;
  if (requiredLiteral != nullptr)
    copy->requiredLiteral = copy->program + (requiredLiteral - program);
  copy->requiredLength = requiredLength;
  if (firstSet != nullptr) copy->firstSet = copy->program + (firstSet - program);
  std::memcpy(copy->prefix, prefix, sizeof prefix);
  copy->prefixLength = prefixLength;
  copy->scan = scan;
  copy->prefixIsProgram = prefixIsProgram;
  copy->skipNode = skipNode;
  copy->skipLength = skipLength;
  std::memcpy(copy->guard, guard, sizeof guard);
  copy->guardLength = guardLength;
  // The guard as compiled, even when this program has been damaged since.
  // Without memory for them the copy tries every position.
  if (literalExtent > 0) copy->KeepLiteralScan(*literalScan, literalGuard, literalExtent);
  copy->groups = groups;
  copy->replayEnd = replayEnd;
  copy->firstChar = firstChar;
  copy->anchored = anchored;
  copy->compiledOK = compiledOK;
  copy->subStringCount = subStringCount;
  copy->lastSearchError = lastSearchError;
  std::memcpy(copy->subStart, subStart, sizeof subStart);
  std::memcpy(copy->subEnd, subEnd, sizeof subEnd);
  return copy;
}

int RegexpProgram::CountSetSlots() const {
  if (!Matched()) return -1;
  int count = 1;
  while (count < kRegexpSlots && subStart[count] != nullptr) ++count;
  return count - 1;
}
