// RegexpLinear: a search in time linear in the subject and memory bounded by
// the program, for the searches whose failure memo would be too large. It
// gives exactly the matcher's answer: the leftmost match, alternatives in
// pattern order, greedy repeats, and each group's slots from its last pass
// on the winning path.
//
// It simulates every path of the backtracking matcher at once, in lockstep
// over the subject (a Pike VM). A state is a place in the program where a
// path either tests one character (a one-character node, one byte of a
// literal, a repeat's operand) or accepts; states are ordered by the
// backtracking priority of the paths that reach them, and a state reached a
// second time at one position is dropped, since the path that reached it
// first would win whatever follows. Each path carries its own group slots.
//
// Work per subject position is at most a small constant times the program
// size (each state is entered once per position), so a search from p takes
// O(program size x (text length - p + 1)) steps and O(program size) memory.
#ifndef FERRET_REGEX_REGEXPLINEAR_H_
#define FERRET_REGEX_REGEXPLINEAR_H_

#include <cstddef>
#include <cstdint>

#include "regex/RegexpNode.h"
#include "regex/RegexpProgram.h"

class RegexpLinear {
 public:
  // subject and program must outlive the search; the program's slots are
  // written when a match is found, and only then.
  RegexpLinear(RegexpProgram& program, const char* subject);
  ~RegexpLinear();
  RegexpLinear(const RegexpLinear&) = delete;
  RegexpLinear& operator=(const RegexpLinear&) = delete;

  // The leftmost match that begins at from or later. memoryLeft: the bytes
  // the search may allocate; with less than it needs it fails with error 25.
  bool Search(const char* from, size_t memoryLeft);
  uint64_t Steps() const { return steps; }
  // The code of the error that ended the search (RegexpStatus.h); 0 = none.
  int Error() const { return error; }

 private:
  static constexpr int kSlotCount = 2 * kRegexpSlots;  // start, end of each
  using State = RegexpCharTest;
  // States in priority order, with a row of slotCount slots each.
  struct List {
    State* states = nullptr;
    const char** slots = nullptr;
    size_t size = 0;
  };
  // A step of the walk that finds the states reachable from a place.
  struct Job {
    enum Type : uint8_t { kExplore, kStar, kRestore } type;
    const char* node;  // kExplore, kStar: where; kRestore: unused
    int slot;          // kRestore: the slot to put back
    const char* value;
  };

  bool Allocate(size_t memoryLeft);
  // Adds the states reachable from node at position at, with the slots of
  // slotsNow, after those in list (so lower in priority). star: node is a
  // OneOrMore past its first count.
  void Follow(List& list, const char* node, bool star, const char* at);
  // One node of Follow's walk: adds its state, or the jobs for what follows.
  void Explore(List& list, const char* node, bool star, const char* at);
  // Adds state, with the slots of slotsNow, unless list has it already.
  void AddState(List& list, int id, State state);
  // Where a path goes on, at `at`, once state has taken the character
  // before it.
  void Advance(List& list, const State& state, const char* at);
  // Marks id entered in the list being built; false when it was already.
  bool Mark(int id);

  size_t SlotBytes() const { return static_cast<size_t>(slotCount) * sizeof(const char*); }

  RegexpProgram& program;
  const char* subjectStart;
  const int slotCount;  // the slots a path carries: those of the program's groups
  List current, next;
  const char* slotsNow[kSlotCount];  // the slots of the path being explored
  Job* jobs = nullptr;
  size_t jobCount = 0;
  uint32_t* marks = nullptr;  // per program byte: the generation that entered it
  uint32_t generation = 0;
  void* block = nullptr;  // owns every array above
  uint64_t steps = 0;
  int error = 0;
};

#endif  // FERRET_REGEX_REGEXPLINEAR_H_
