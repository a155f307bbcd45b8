#include "regex/RegexpLinear.h"

#include <cstdlib>
#include <cstring>

namespace {

using Op = RegexpOp;

constexpr int kOutOfMemory = 25;
constexpr int kBadOpcode = 3;
constexpr int kBadLink = 4;
constexpr int kBadRepeat = 5;

}  // namespace

RegexpLinear::RegexpLinear(RegexpProgram& program, const char* subject)
    : program(program), subjectStart(subject), slotCount(2 * (program.groups + 1)) {}

RegexpLinear::~RegexpLinear() { std::free(block); }

// One block for both lists, the job stack and the marks. Each state id is
// the offset of a distinct program byte, so a list never holds more states
// than the program has bytes, and a walk never more jobs than twice that.
bool RegexpLinear::Allocate(size_t memoryLeft) {
  size_t ids = static_cast<size_t>(program.ProgramSize()) + 1;
  size_t slotBytes = ids * static_cast<size_t>(slotCount) * sizeof(const char*);
  size_t stateBytes = ids * sizeof(State);
  size_t jobBytes = (2 * ids + 2) * sizeof(Job);
  size_t bytes = 2 * (slotBytes + stateBytes) + jobBytes + ids * sizeof(uint32_t);
  if (bytes <= memoryLeft) block = std::calloc(bytes, 1);
  if (block == nullptr) {
    error = kOutOfMemory;
    return false;
  }
  char* at = static_cast<char*>(block);
  current.slots = reinterpret_cast<const char**>(at);
  next.slots = reinterpret_cast<const char**>(at += slotBytes);
  current.states = reinterpret_cast<State*>(at += slotBytes);
  next.states = reinterpret_cast<State*>(at += stateBytes);
  jobs = reinterpret_cast<Job*>(at += stateBytes);
  marks = reinterpret_cast<uint32_t*>(at + jobBytes);
  return true;
}

bool RegexpLinear::Search(const char* from, size_t memoryLeft) {
  if (!Allocate(memoryLeft)) return false;
  const char* first = program.Program() + 1;
  const bool anchored = program.Anchored();
  const char* best[kSlotCount];
  bool matched = false;
  ++generation;  // the current list's
  for (const char* at = from;; ++at) {
    // A path that starts here ranks below every path that started earlier.
    if (!matched && (!anchored || at == subjectStart)) {
      for (const char*& slot : slotsNow) slot = nullptr;
      slotsNow[0] = at;
      Follow(current, first, false, at);
      if (error != 0) return false;
    }
    if (current.size == 0 && (matched || anchored || *at == '\0')) break;
    ++generation;  // the next list's
    next.size = 0;
    const char c = *at;
    for (size_t i = 0; i < current.size; ++i) {
      const State& state = current.states[i];
      const char** slots = current.slots + i * static_cast<size_t>(slotCount);
      if (state.kind == State::kAccept) {
        // Every path below this one ranks lower: they are dropped.
        std::memcpy(best, slots, SlotBytes());
        best[1] = at;
        matched = true;
        break;
      }
      ++steps;
      if (!state.Takes(c)) continue;
      std::memcpy(slotsNow, slots, SlotBytes());
      Advance(next, state, at + 1);
      if (error != 0) return false;
    }
    List done = current;
    current = next;
    next = done;
    if (c == '\0') break;
  }
  if (!matched) return false;
  for (int slot = 0; slot <= program.groups; ++slot) {
    program.subStart[slot] = best[2 * slot];
    program.subEnd[slot] = best[2 * slot + 1];
  }
  return true;
}

void RegexpLinear::Advance(List& list, const State& state, const char* at) {
  switch (state.kind) {
    case State::kLiteralByte:
      if (state.byte[1] != '\0') {
        AddState(list, static_cast<int>(state.byte + 1 - program.Program()),
                 {State::kLiteralByte, state.node, state.byte + 1});
        return;
      }
      Follow(list, NextNode(state.node), false, at);
      return;
    case State::kOperand: Follow(list, state.node, NodeOp(state.node) == Op::OneOrMore, at); return;
    default: Follow(list, NextNode(state.node), false, at); return;
  }
}

bool RegexpLinear::Mark(int id) {
  if (marks[id] == generation) return false;
  marks[id] = generation;
  ++steps;
  return true;
}

void RegexpLinear::AddState(List& list, int id, State state) {
  if (!Mark(id)) return;
  list.states[list.size] = state;
  std::memcpy(list.slots + list.size * static_cast<size_t>(slotCount), slotsNow, SlotBytes());
  ++list.size;
}

// Depth first, higher priority first: the jobs of a lower-priority branch
// wait on the stack below those of the branch taken, and a group's slot is
// put back once everything past the group has been explored.
void RegexpLinear::Follow(List& list, const char* node, bool star, const char* at) {
  jobs[jobCount++] = {star ? Job::kStar : Job::kExplore, node, 0, nullptr};
  while (jobCount > 0 && error == 0) {
    Job job = jobs[--jobCount];
    if (job.type == Job::kRestore)
      slotsNow[job.slot] = job.value;
    else
      Explore(list, job.node, job.type == Job::kStar, at);
  }
  jobCount = 0;
}

void RegexpLinear::Explore(List& list, const char* node, bool star, const char* at) {
  if (node == nullptr) {
    error = kBadLink;
    return;
  }
  const int op = NodeOp(node);
  // A OneOrMore past its first count is a state of its own (the byte after
  // its opcode): from there it may stop.
  const int id = static_cast<int>(node - program.Program()) + (star ? 1 : 0);
  auto push = [this](const char* to) { jobs[jobCount++] = {Job::kExplore, to, 0, nullptr}; };
  switch (op) {
    case Op::Accept: AddState(list, id, {State::kAccept, node, nullptr}); return;
    case Op::AnyChar:
    case Op::InSet:
    case Op::NotInSet: AddState(list, id, {State::kOneChar, node, nullptr}); return;
    case Op::Literal:
      AddState(list, id + 3, {State::kLiteralByte, node, NodeOperand(node)});
      return;
    case Op::ZeroOrMore:
    case Op::OneOrMore: {
      const char* operand = NodeOperand(node);
      if (!IsOneCharOp(NodeOp(operand))) {
        error = kBadRepeat;
        return;
      }
      if (!Mark(id)) return;
      // Greedy: another count ranks above stopping here.
      if (op == Op::ZeroOrMore || star) push(NextNode(node));
      AddState(list, static_cast<int>(operand - program.Program()),
               {State::kOperand, node, nullptr});
      return;
    }
    default: break;
  }
  if (!Mark(id)) return;
  const char* after = NextNode(node);
  switch (op) {
    case Op::Alt:
      if (after != nullptr && NodeOp(after) == Op::Alt) push(after);
      push(NodeOperand(node));
      return;
    case Op::Loop:
    case Op::Empty: push(after); return;
    case Op::LineStart:
      if (at == subjectStart) push(after);
      return;
    case Op::LineEnd:
      if (*at == '\0') push(after);
      return;
    case Op::WordStart:
      if (IsRegexpWordChar(*at) && (at == subjectStart || !IsRegexpWordChar(at[-1]))) push(after);
      return;
    case Op::WordEnd:
      if (!IsRegexpWordChar(*at)) push(after);
      return;
    default: break;
  }
  int slot;
  if (op > Op::GroupOpen && op < Op::GroupOpen + kRegexpSlots) {
    slot = 2 * (op - Op::GroupOpen);
  } else if (op > Op::GroupClose && op < Op::GroupClose + kRegexpSlots) {
    slot = 2 * (op - Op::GroupClose) + 1;
  } else {
    error = kBadOpcode;
    return;
  }
  jobs[jobCount++] = {Job::kRestore, nullptr, slot, slotsNow[slot]};
  slotsNow[slot] = at;
  push(after);
}
