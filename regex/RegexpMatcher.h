// RegexpMatcher: the context of one search, a backtracking interpreter of
// the node program of a RegexpProgram that keeps its choice points on an
// explicit stack instead of the C++ call stack.
//
// Alternatives are tried in pattern order and the first that completes wins
// (leftmost-first); * and + are greedy and give characters back one at a
// time. The stack holds one frame for every choice point on the current
// path: an Alt chain (the alternative taken and where it began) or a repeat
// (the count taken and the fewest it may give back to). A successful path
// is therefore fully described by the stack, and the group slots are filled
// afterwards by replaying it: each slot gets the position of the last pass
// through its group on that path, and groups it never passed stay unset.
//
// Whether the rest of the program matches from node n at position p depends
// on (n, p) alone, and any success ends the search, so a failure at (n, p)
// is final for the whole search, across start positions. Once a search has
// done more than a cheap amount of work per character, the matcher marks
// every (node, position) it enters in a bit table and treats a second entry
// as a failure; from then on each pair is entered at most once, which bounds
// the search by O(program size x text length). Ordinary searches never
// allocate the table. Repeat runs are memoised per position too, so a run is
// scanned once however many starts reach it.
#ifndef FERRET_REGEX_REGEXPMATCHER_H_
#define FERRET_REGEX_REGEXPMATCHER_H_

#include <cstddef>
#include <cstdint>

#include "regex/RegexpNode.h"
#include "regex/RegexpProgram.h"

// The most bytes one search may hold for its backtrack stack and its memo
// together; a search that needs more ends with error 25, as when memory runs
// out. Process-wide; the default is no limit beyond the memo's own cap.
// Tests set it small to reach the failure without exhausting the machine.
// Returns the limit it replaces.
size_t SetRegexpSearchMemoryLimit(size_t bytes);
// The largest failure memo a search allocates (256 MB unless set; returns
// the limit it replaces). A search
// whose memo would be larger goes on in RegexpLinear instead, from the
// attempt it had reached. Process-wide; tests set it small to take that way.
size_t SetRegexpMemoLimit(size_t bytes);

class RegexpMatcher {
 public:
  // subject and program must outlive the matcher; the program's slots are
  // written in place when an attempt succeeds, and only then.
  RegexpMatcher(RegexpProgram& program, const char* subject);
  ~RegexpMatcher();
  RegexpMatcher(const RegexpMatcher&) = delete;
  RegexpMatcher& operator=(const RegexpMatcher&) = delete;

  // A match that begins exactly at start; on success slot 0 spans it and the
  // group slots describe it. The characters from start fit the program's
  // prefix sets (RegexpProgram::PrefixFits), so the nodes they cover are
  // taken as matched.
  bool TryAt(const char* start);
  // Work done so far: nodes entered, characters scanned by repeats and
  // repeat counts given back. Bounded by a constant plus
  // O(program size x text length) over the whole search.
  uint64_t Steps() const { return steps; }
  // The search must end: an error was raised (25 when memory ran out), or
  // it is to go on in RegexpLinear.
  bool Stopped() const { return error != 0 || wantsLinear; }
  // The memo this search needs is over its limit: the search goes on in
  // RegexpLinear from AttemptStart, every earlier start having failed.
  bool WantsLinear() const { return wantsLinear; }
  const char* AttemptStart() const { return attemptStart; }
  // The bytes the search may still allocate under the memory limit.
  size_t MemoryLeft() const;
  // The code of the error that ended the search (RegexpStatus.h); 0 = none.
  int Error() const { return error; }

 private:
  // A choice point. For an Alt chain: node is the Alt whose operand is being
  // tried and position where every alternative starts. For a repeat: node is
  // the ZeroOrMore or OneOrMore and position the end of the count being
  // tried; the frame below it holds, in its position, the end of the fewest
  // count allowed (its node is null).
  struct Frame {
    const char* position;
    const char* node;
  };

  bool Run(const char* node);
  bool PassGroup(int op, const char* at);
  bool Backtrack(const char** node, const char** at);
  const char* EnterRepeat(const char* node, const char* at);
  const char* GiveBack(const char* repeat, const char* fewest, const char* below);
  const char* RunEnd(const char* operand, const char* from);
  const char* MemoRunEnd(const char* operand, const char* from, bool* blocked);
  bool Push(const char* position, const char* node);
  bool PushRepeat(const char* fewest, const char* end, const char* repeat);
  bool Grow();
  bool Visit(const char* node, const char* at);
  // Whether the search may hold bytes more, counted against the limit.
  bool MayHold(size_t bytes);
  size_t held = 0;  // bytes of stack and memo allocated
  bool wantsLinear = false;
  void StartMemo();
  void ReplayGroups(const char* start);

  RegexpProgram& program;
  const char* subjectStart;  // for LineStart, WordStart and memo columns
  const char* position;      // where an attempt starts its walk, and where
                             // its match ends once it has succeeded
  const char* attemptStart;  // start of the current attempt

  Frame inlineFrames[32];  // most searches never need more
  Frame* frames = inlineFrames;
  size_t top = 0;  // frames in use
  size_t capacity = sizeof inlineFrames / sizeof inlineFrames[0];

  uint64_t steps = 0;
  int error = 0;           // a plain code: a status would cost a string per search
  bool memoTried = false;  // StartMemo ran (it may have found no memory)
  bool sawGroup = false;   // a group node was entered: slots need a replay
  // The current attempt has not backtracked: every node it entered lies on
  // its path, in order, so the last write of each group slot below is the
  // last pass through that group node and no replay is needed.
  bool straight = true;
  unsigned passed = 0;  // bit per group slot written
  // Valid where passed has the bit; left uninitialised, as passed tells.
  const char* groupStart[kRegexpSlots];
  const char* groupEnd[kRegexpSlots];
  uint64_t* memo = nullptr;  // owned; rows of columns bits, row = node offset / 3
  size_t columns = 0;        // subject length + 1
  size_t rows = 0;
};

#endif  // FERRET_REGEX_REGEXPMATCHER_H_
