#include "tests/regex/RegexpReference.h"

#include <cstring>
#include <string>

namespace {

using Op = RegexpOp;

bool IsWordChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

bool IsMember(const char* members, char c) {
  for (; *members != '\0'; ++members)
    if (*members == c) return true;
  return false;
}

// One search. A failure that set error (or ran out of budget) unwinds every
// level at once, as the production matcher's errors do.
class Reference {
 public:
  Reference(const RegexpProgram& program, const char* subject, size_t budget)
      : program(program), subjectStart(subject), budget(budget) {}

  bool TryAt(const char* start) {
    position = start;
    if (!MatchFrom(program.Program() + 1)) return false;
    subStart[0] = start;
    subEnd[0] = position;
    return true;
  }
  bool Stopped() const { return error != 0 || overBudget; }

  int error = 0;
  bool overBudget = false;
  const char* subStart[kRegexpSlots] = {};
  const char* subEnd[kRegexpSlots] = {};

 private:
  bool Fail(int code) {
    error = code;
    return false;
  }
  bool MatchFrom(const char* node);
  bool MatchChoice(const char* alt);
  bool MatchRepeat(const char* node, const char* next);
  size_t CountRepeat(const char* operand);

  const RegexpProgram& program;
  const char* subjectStart;
  const char* position = nullptr;
  size_t budget;
  size_t steps = 0;
};

bool Reference::MatchFrom(const char* node) {
  while (node != nullptr) {
    if (++steps > budget) {
      overBudget = true;
      return false;
    }
    const char* next = NextNode(node);
    const char* operand = NodeOperand(node);
    int op = NodeOp(node);
    switch (op) {
      case Op::Accept: return true;
      case Op::LineStart:
        if (position != subjectStart) return false;
        break;
      case Op::LineEnd:
        if (*position != '\0') return false;
        break;
      case Op::AnyChar:
        if (*position == '\0') return false;
        ++position;
        break;
      case Op::Literal: {
        size_t length = std::strlen(operand);
        if (std::strncmp(operand, position, length) != 0) return false;
        position += length;
        break;
      }
      case Op::InSet:
        if (*position == '\0' || !IsMember(operand, *position)) return false;
        ++position;
        break;
      case Op::NotInSet:
        if (*position == '\0' || IsMember(operand, *position)) return false;
        ++position;
        break;
      case Op::Alt:
        if (next != nullptr && NodeOp(next) == Op::Alt) return MatchChoice(node);
        next = operand;
        break;
      case Op::Loop:
      case Op::Empty: break;
      case Op::ZeroOrMore:
      case Op::OneOrMore: return MatchRepeat(node, next);
      case Op::WordStart:
        if (!IsWordChar(*position)) return false;
        if (position != subjectStart && IsWordChar(position[-1])) return false;
        break;
      case Op::WordEnd:
        if (IsWordChar(*position)) return false;
        break;
      default: {
        const char* at = position;
        bool open = op > Op::GroupOpen && op < Op::GroupOpen + kRegexpSlots;
        bool close = op > Op::GroupClose && op < Op::GroupClose + kRegexpSlots;
        if (!open && !close) return Fail(3);
        if (!MatchFrom(next)) return false;
        // On the way back from a match: the last pass on the path wins.
        if (open && subStart[op - Op::GroupOpen] == nullptr) subStart[op - Op::GroupOpen] = at;
        if (close && subEnd[op - Op::GroupClose] == nullptr) subEnd[op - Op::GroupClose] = at;
        return true;
      }
    }
    node = next;
  }
  return Fail(4);
}

bool Reference::MatchChoice(const char* alt) {
  const char* saved = position;
  for (; alt != nullptr && NodeOp(alt) == Op::Alt; alt = NextNode(alt)) {
    if (MatchFrom(NodeOperand(alt))) return true;
    if (Stopped()) return false;
    position = saved;
  }
  return false;
}

bool Reference::MatchRepeat(const char* node, const char* next) {
  size_t min = NodeOp(node) == Op::OneOrMore ? 1 : 0;
  // A following literal must begin right after the repeat.
  char lookahead = next != nullptr && NodeOp(next) == Op::Literal ? *NodeOperand(next) : '\0';
  const char* start = position;
  size_t count = CountRepeat(NodeOperand(node));
  if (Stopped()) return false;
  for (size_t k = count + 1; k-- > min;) {
    position = start + k;
    if ((lookahead == '\0' || *position == lookahead) && MatchFrom(next)) return true;
    if (Stopped()) return false;
  }
  return false;
}

size_t Reference::CountRepeat(const char* operand) {
  const char* at = position;
  const char* members = NodeOperand(operand);
  switch (NodeOp(operand)) {
    case Op::AnyChar: return std::strlen(at);
    case Op::InSet:
      while (*at != '\0' && IsMember(members, *at)) ++at;
      break;
    case Op::NotInSet:
      while (*at != '\0' && !IsMember(members, *at)) ++at;
      break;
    case Op::Literal:
      while (*at != '\0' && *at == *members) ++at;
      break;
    default: Fail(5); return 0;
  }
  return static_cast<size_t>(at - position);
}

}  // namespace

ReferenceResult ReferenceSearch(const RegexpProgram& program, const char* subject, size_t budget) {
  ReferenceResult result;
  const char* code = program.Program();
  if (subject == nullptr || code == nullptr ||
      static_cast<unsigned char>(code[0]) != kRegexpMagic) {
    result.outcome = ReferenceResult::kError;
    result.error = subject == nullptr ? 1 : 2;
    return result;
  }
  if (program.RequiredLiteral() != nullptr &&
      std::strstr(subject, program.RequiredLiteral()) == nullptr)
    return result;
  // Every start position in order; the search data only skip positions
  // where no match can begin, so the plain walk finds the same match.
  Reference reference(program, subject, budget);
  bool found = false;
  for (const char* at = subject;; ++at) {
    bool hopeless = at != subject && program.FirstChar() != '\0' && *at != program.FirstChar();
    if (!hopeless && (found = reference.TryAt(at))) break;
    if (reference.Stopped() || program.Anchored() || *at == '\0') break;
  }
  if (reference.overBudget) {
    result.outcome = ReferenceResult::kOverBudget;
  } else if (reference.error != 0) {
    result.outcome = ReferenceResult::kError;
    result.error = reference.error;
  } else if (found) {
    result.outcome = ReferenceResult::kMatch;
    for (int i = 0; i < kRegexpSlots; ++i) {
      const char* s = reference.subStart[i];
      const char* e = reference.subEnd[i];
      result.start[i] = s != nullptr ? static_cast<int>(s - subject) : -1;
      result.end[i] = e != nullptr ? static_cast<int>(e - subject) : -1;
    }
  }
  return result;
}

namespace {

int Offset(const char* at, const char* subject) {
  return at != nullptr ? static_cast<int>(at - subject) : -1;
}

std::string Slot(int slot, int start, int end) {
  return std::to_string(slot) + ":(" + std::to_string(start) + "," + std::to_string(end) + ")";
}

}  // namespace

std::string CompareWithReference(const char* pattern, int fold, const char* text, size_t budget,
                                 bool* compared) {
  if (compared != nullptr) *compared = false;
  RegexpProgram program(pattern, fold);
  if (!program.CompiledOK()) return std::string();
  ReferenceResult expected = ReferenceSearch(program, text, budget);
  if (expected.outcome == ReferenceResult::kOverBudget) return std::string();
  if (compared != nullptr) *compared = true;
  bool found = program.Search(text);
  std::string where =
      std::string("/") + pattern + "/ fold " + std::to_string(fold) + " in \"" + text + "\": ";
  if (expected.outcome == ReferenceResult::kError) {
    if (found || program.Status().Message() != ErrorMessage(expected.error))
      return where + "the reference fails with " + ErrorMessage(expected.error);
    return std::string();
  }
  if (found != (expected.outcome == ReferenceResult::kMatch))
    return where + (found ? "matches, the reference does not" : "no match, the reference matches");
  if (program.Status().Failed())
    return where + "error " + static_cast<const char*>(program.Status().Message());
  std::string diff;
  for (int slot = 0; found && slot < kRegexpSlots; ++slot) {
    int start = Offset(program.SubStartOf(slot), text);
    int end = Offset(program.SubEndOf(slot), text);
    if (start != expected.start[slot] || end != expected.end[slot])
      diff += " slot " + Slot(slot, start, end) + " reference " +
              Slot(slot, expected.start[slot], expected.end[slot]);
  }
  return diff.empty() ? diff : where + diff;
}
