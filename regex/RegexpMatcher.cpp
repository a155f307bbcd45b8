#include "regex/RegexpMatcher.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

namespace {

using Op = RegexpOp;

// Work a search may do before it memoises failures: a fixed allowance plus
// an allowance for each character the start has moved on. A search that
// stays within it does a few steps per character and never needs the table.
// The tests build the engine a second time with FERRET_REGEX_ALWAYS_MEMO, so
// that the memoised matcher is checked on every search too.
#ifdef FERRET_REGEX_ALWAYS_MEMO
constexpr uint64_t kCheapSteps = 0;
constexpr uint64_t kCheapStepsPerChar = 0;
#else
constexpr uint64_t kCheapSteps = 2048;
constexpr uint64_t kCheapStepsPerChar = 16;
#endif

constexpr int kOutOfMemory = 25;

std::atomic<size_t> searchMemoryLimit{SIZE_MAX};
// The tests build the engine once more with FERRET_REGEX_NO_MEMO (and
// FERRET_REGEX_ALWAYS_MEMO), so that every search that backtracks goes on
// in RegexpLinear and meets the reference there.
#ifdef FERRET_REGEX_NO_MEMO
std::atomic<size_t> memoLimit{0};
#else
std::atomic<size_t> memoLimit{size_t{256} << 20};
#endif

// The end of the run from `from` of characters in the set. Sets of one or
// two bytes (spaces, quotes) are the usual case and their runs are short: a
// loop beats the set-up of strspn there.
const char* InSetRunEnd(const char* from, const char* members) {
  char a = members[0];
  if (a == '\0' || (members[1] != '\0' && members[2] != '\0'))
    return from + std::strspn(from, members);
  char b = members[1] != '\0' ? members[1] : a;
  while (*from == a || *from == b) ++from;
  return from;
}

// The node right after a repeat when it tests the character there (a
// literal, a set or any character), else nullptr: counts that leave a
// character it refuses are skipped without trying them.
const char* Follower(const char* repeat) {
  const char* next = NextNode(repeat);
  if (next == nullptr) return nullptr;
  int op = NodeOp(next);
  return IsOneCharOp(op) ? next : nullptr;
}

}  // namespace

size_t SetRegexpSearchMemoryLimit(size_t bytes) { return searchMemoryLimit.exchange(bytes); }
size_t SetRegexpMemoLimit(size_t bytes) { return memoLimit.exchange(bytes); }

RegexpMatcher::RegexpMatcher(RegexpProgram& program, const char* subject)
    : program(program), subjectStart(subject), position(subject), attemptStart(subject) {}

RegexpMatcher::~RegexpMatcher() {
  if (frames != inlineFrames) std::free(frames);
  if (memo != nullptr) std::free(memo);
}

bool RegexpMatcher::TryAt(const char* start) {
  attemptStart = start;
  position = start + program.startSkip;
  top = 0;
  straight = true;
  passed = 0;
  if (!Run(program.program + program.startNode)) return false;
  program.subStart[0] = start;
  program.subEnd[0] = position;
  if (straight) {
    for (int slot = 1; slot <= program.groups; ++slot) {
      program.subStart[slot] = passed >> slot & 1 ? groupStart[slot] : nullptr;
      program.subEnd[slot] = passed >> (slot + kRegexpSlots) & 1 ? groupEnd[slot] : nullptr;
    }
    return true;
  }
  ReplayGroups(start);
  return true;
}

// Each node either matches, moving on in the text and going to its
// successor, or fails, going back to the latest choice point. The position
// lives in a local while the walk goes on: the frames the helpers write
// could alias a member, and it would be reloaded after each of them.
__attribute__((flatten)) bool RegexpMatcher::Run(const char* node) {
  const char* at = position;
  for (;;) {
    if (node == nullptr) {
      error = 4;
      return false;
    }
    ++steps;
    if (memo != nullptr && !Visit(node, at)) goto fail;
    switch (NodeOp(node)) {
      case Op::Accept: position = at; return true;
      case Op::Literal: {
        const char* text = NodeOperand(node);
        const char* end = at;
        while (*text != '\0' && *text == *end) ++text, ++end;
        if (*text != '\0') goto fail;
        at = end;
        break;
      }
      case Op::InSet:
        // A folded word is a chain of sets: the chain is taken here, each
        // set still counted and marked, without a dispatch for each.
        for (;;) {
          if (*at == '\0' || !IsSetMember(NodeOperand(node), *at)) goto fail;
          ++at;
          node = NextNode(node);
          if (node == nullptr || NodeOp(node) != Op::InSet) break;
          ++steps;
          if (memo != nullptr && !Visit(node, at)) goto fail;
        }
        continue;
      case Op::NotInSet:
        if (*at == '\0' || IsSetMember(NodeOperand(node), *at)) goto fail;
        ++at;
        break;
      case Op::AnyChar:
        if (*at == '\0') goto fail;
        ++at;
        break;
      case Op::Alt: {
        const char* other = NextNode(node);
        if (other != nullptr && NodeOp(other) == Op::Alt && !Push(at, node)) goto fail;
        node = NodeOperand(node);
        continue;
      }
      case Op::ZeroOrMore:
      case Op::OneOrMore:
        if ((at = EnterRepeat(node, at)) == nullptr) goto fail;
        break;
      case Op::Loop:
      case Op::Empty: break;
      case Op::LineStart:
        if (at != subjectStart) goto fail;
        break;
      case Op::LineEnd:
        if (*at != '\0') goto fail;
        break;
      case Op::WordStart:
        if (!IsRegexpWordChar(*at) || (at != subjectStart && IsRegexpWordChar(at[-1]))) goto fail;
        break;
      case Op::WordEnd:
        if (IsRegexpWordChar(*at)) goto fail;
        break;
      default:
        if (!PassGroup(NodeOp(node), at)) return false;
        break;
    }
    node = NextNode(node);
    continue;
  fail:
    if (error != 0 || !Backtrack(&node, &at)) return false;
  }
}

// Records a pass through a group node at a position; false, with the error
// set, when op is no opcode at all.
bool RegexpMatcher::PassGroup(int op, const char* at) {
  if (op > Op::GroupOpen && op < Op::GroupOpen + kRegexpSlots) {
    groupStart[op - Op::GroupOpen] = at;
    passed |= 1u << (op - Op::GroupOpen);
  } else if (op > Op::GroupClose && op < Op::GroupClose + kRegexpSlots) {
    groupEnd[op - Op::GroupClose] = at;
    passed |= 1u << (op - Op::GroupClose + kRegexpSlots);
  } else {
    error = 3;
    return false;
  }
  sawGroup = true;
  return true;
}

// Resumes at the latest choice point with a choice left: *node and *at are
// where the walk goes on. False when none is left.
bool RegexpMatcher::Backtrack(const char** node, const char** at) {
  straight = false;
  if (!memoTried && steps > kCheapSteps + kCheapStepsPerChar *
                                              static_cast<uint64_t>(attemptStart - subjectStart)) {
    StartMemo();
    if (error != 0 || wantsLinear) return false;
  }
  while (top > 0) {
    Frame& frame = frames[top - 1];
    if (NodeOp(frame.node) == Op::Alt) {
      const char* alt = NextNode(frame.node);
      if (alt != nullptr && NodeOp(alt) == Op::Alt) {
        frame.node = alt;
        *at = frame.position;
        *node = NodeOperand(alt);
        return true;
      }
      --top;
      continue;
    }
    // A repeat gives back one character at a time down to its fewest.
    const char* fewest = frames[top - 2].position;
    const char* end = GiveBack(frame.node, fewest, frame.position);
    if (end != nullptr) {
      frame.position = end;
      *at = end;
      *node = NextNode(frame.node);
      return true;
    }
    top -= 2;
  }
  return false;
}

// Takes the greediest count, from at, of a repeat whose continuation can
// begin and pushes the repeat's frames; returns where the count ends, or
// nullptr when no count is left to try.
const char* RegexpMatcher::EnterRepeat(const char* node, const char* at) {
  const char* operand = NodeOperand(node);
  if (!IsOneCharOp(NodeOp(operand))) {
    error = 5;
    return nullptr;
  }
  bool plus = NodeOp(node) == Op::OneOrMore;
  if (memo == nullptr && !OneCharNodeTakes(operand, *at)) {
    // The empty run, the usual case of a * between tokens: its one count
    // is tried as GiveBack would try it, at the cost of one step.
    if (plus) return nullptr;
    ++steps;
    const char* follower = Follower(node);
    if (follower != nullptr && !OneCharNodeTakes(follower, *at)) return nullptr;
    return PushRepeat(at, at, node) ? at : nullptr;
  }
  const char* most;
  if (memo == nullptr) {
    most = RunEnd(operand, at);
    if (plus && most == at) return nullptr;
  } else {
    if (plus && !OneCharNodeTakes(operand, *at)) return nullptr;
    bool blocked;
    const char* end = MemoRunEnd(operand, at + plus, &blocked);
    // A blocked run ends at a count tried before: it and all above it failed.
    if (blocked && end == at + plus) return nullptr;
    most = blocked ? end - 1 : end;
  }
  const char* fewest = at + plus;
  if (most < fewest) return nullptr;
  const char* end = GiveBack(node, fewest, most + 1);
  if (end == nullptr) return nullptr;
  return PushRepeat(fewest, end, node) ? end : nullptr;
}

// The greatest count end in [fewest, below) where the repeat's continuation
// can begin, or nullptr when there is none.
const char* RegexpMatcher::GiveBack(const char* repeat, const char* fewest, const char* below) {
  if (below <= fewest) return nullptr;
  const char* follower = Follower(repeat);
  if (follower == nullptr) {
    ++steps;
    return below - 1;
  }
  if (NodeOp(follower) == Op::Literal) {
    size_t span = static_cast<size_t>(below - fewest);
    const void* found = memrchr(fewest, *NodeOperand(follower), span);
    steps += found == nullptr ? span : static_cast<size_t>(below - static_cast<const char*>(found));
    return static_cast<const char*>(found);
  }
  for (const char* end = below - 1;; --end) {
    ++steps;
    if (OneCharNodeTakes(follower, *end)) return end;
    if (end == fewest) return nullptr;
  }
}

// The end of the run of characters the operand matches from `from`.
const char* RegexpMatcher::RunEnd(const char* operand, const char* from) {
  const char* members = NodeOperand(operand);
  const char* end = from;
  switch (NodeOp(operand)) {
    case Op::AnyChar: end = from + std::strlen(from); break;
    case Op::InSet: end = InSetRunEnd(from, members); break;
    case Op::NotInSet: end = from + std::strcspn(from, members); break;
    default:
      while (*end == *members) ++end;
      break;
  }
  steps += static_cast<uint64_t>(end - from);
  return end;
}

// As RunEnd, but marking each count's position in the table; the run stops
// early, with *blocked set, at a position some earlier run already marked.
const char* RegexpMatcher::MemoRunEnd(const char* operand, const char* from, bool* blocked) {
  for (const char* at = from;; ++at) {
    if (!Visit(operand, at)) {
      *blocked = true;
      return at;
    }
    ++steps;
    if (!OneCharNodeTakes(operand, *at)) {
      *blocked = false;
      return at;
    }
  }
}

bool RegexpMatcher::Push(const char* at, const char* node) {
  if (top == capacity && !Grow()) return false;
  frames[top++] = {at, node};
  return true;
}

// A repeat's two frames: the end of its fewest count, then the count tried.
bool RegexpMatcher::PushRepeat(const char* fewest, const char* end, const char* repeat) {
  if (capacity - top < 2 && !Grow()) return false;
  frames[top] = {fewest, nullptr};
  frames[top + 1] = {end, repeat};
  top += 2;
  return true;
}

// Doubles the stack (it holds at least two frames already); false, with
// the error set, when there is no memory for it.
__attribute__((noinline)) bool RegexpMatcher::Grow() {
  size_t bigger = capacity * 2;
  void* grown = nullptr;
  if (MayHold((bigger - capacity) * sizeof(Frame)))
    grown = frames == inlineFrames ? std::malloc(bigger * sizeof(Frame))
                                   : std::realloc(frames, bigger * sizeof(Frame));
  if (grown == nullptr) {
    error = kOutOfMemory;
    return false;
  }
  if (frames == inlineFrames) std::memcpy(grown, inlineFrames, sizeof inlineFrames);
  frames = static_cast<Frame*>(grown);
  capacity = bigger;
  return true;
}

// Marks (node, at) entered; false when it was entered before. A repeat's
// counts use the row of its operand node, which is never entered itself.
bool RegexpMatcher::Visit(const char* node, const char* at) {
  size_t row = static_cast<size_t>(node - program.program) / 3;
  if (row >= rows) return true;  // only a damaged link leads out of the program
  size_t bit = row * columns + static_cast<size_t>(at - subjectStart);
  uint64_t mask = uint64_t{1} << (bit & 63);
  uint64_t& word = memo[bit >> 6];
  if (word & mask) return false;
  word |= mask;
  return true;
}

void RegexpMatcher::StartMemo() {
  memoTried = true;
  size_t length = std::strlen(subjectStart);
  size_t tableRows = static_cast<size_t>(program.programSize) / 3 + 1;
  size_t limit = memoLimit.load(std::memory_order_relaxed);
  if (length + 1 > limit / tableRows * 8) {
    wantsLinear = true;
    return;
  }
  size_t words = tableRows * (length + 1) / 64 + 1;
  if (MayHold(words * sizeof(uint64_t)))
    memo = static_cast<uint64_t*>(std::calloc(words, sizeof(uint64_t)));
  if (memo == nullptr) {
    // Without the table the search could take exponential time.
    error = kOutOfMemory;
    return;
  }
  rows = tableRows;
  columns = length + 1;
}

size_t RegexpMatcher::MemoryLeft() const {
  size_t limit = searchMemoryLimit.load(std::memory_order_relaxed);
  return held < limit ? limit - held : 0;
}

bool RegexpMatcher::MayHold(size_t bytes) {
  size_t limit = searchMemoryLimit.load(std::memory_order_relaxed);
  if (bytes > limit || held > limit - bytes) return false;
  held += bytes;
  return true;
}

// Walks the successful path again, taking at each choice point what its
// frame records, and sets each group's slots from its last pass.
void RegexpMatcher::ReplayGroups(const char* start) {
  for (int slot = 1; slot <= program.groups; ++slot)
    program.subStart[slot] = program.subEnd[slot] = nullptr;
  if (!sawGroup) return;
  const char* at = start;
  size_t frame = 0;
  const char* end = program.program + program.replayEnd;
  for (const char* node = program.program + 1; NodeOp(node) != Op::Accept && node < end;) {
    int op = NodeOp(node);
    const char* next = NextNode(node);
    switch (op) {
      case Op::AnyChar:
      case Op::InSet:
      case Op::NotInSet: ++at; break;
      case Op::Literal:
        for (const char* text = NodeOperand(node); *text != '\0'; ++text) ++at;
        break;
      case Op::Alt:
        if (next != nullptr && NodeOp(next) == Op::Alt)
          next = NodeOperand(frames[frame++].node);
        else
          next = NodeOperand(node);
        break;
      case Op::ZeroOrMore:
      case Op::OneOrMore:
        at = frames[frame + 1].position;
        frame += 2;
        break;
      default:
        if (op > Op::GroupOpen && op < Op::GroupOpen + kRegexpSlots)
          program.subStart[op - Op::GroupOpen] = at;
        else if (op > Op::GroupClose && op < Op::GroupClose + kRegexpSlots)
          program.subEnd[op - Op::GroupClose] = at;
        break;
    }
    node = next;
  }
}
