#include "regex/RegexpMatcher.h"

#include <cstring>

namespace {

using Op = RegexpOp;

bool IsWordChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

// c is not NUL: members are NUL-terminated and the NUL is never a member.
bool IsMember(const char* members, char c) {
  for (; *members != '\0'; ++members)
    if (*members == c) return true;
  return false;
}

}  // namespace

bool RegexpProgram::Search(const char* subject) {
  if (subject == nullptr) {
    status.SetError(1);
    return false;
  }
  if (program == nullptr || static_cast<unsigned char>(program[0]) != kRegexpMagic) {
    status.SetError(2);
    return false;
  }
  if (requiredLiteral != nullptr && std::strstr(subject, requiredLiteral) == nullptr) return false;
  RegexpMatcher matcher(*this, subject);
  // Cleared once for all attempts: a slot is written only on the way back
  // from a match that reached Accept, so a failed attempt leaves none set.
  ClearSlots();
  bool found = false;
  const char* firstSet = FirstSet();
  if (anchored) {
    found = matcher.TryAt(subject);
  } else if (firstChar != '\0') {
    const char* at = subject;
    while (!(found = matcher.TryAt(at)) && !matcher.status.Failed() && *at != '\0') {
      at = std::strchr(at + 1, firstChar);
      if (at == nullptr) break;
    }
  } else if (firstSet != nullptr) {
    // Every match begins with a member of the set, so only positions that
    // hold one are tried; the set never matches the terminating NUL.
    bool member[256] = {};
    for (const char* m = firstSet; *m != '\0'; ++m) member[static_cast<unsigned char>(*m)] = true;
    for (const char* at = subject; *at != '\0'; ++at) {
      if (!member[static_cast<unsigned char>(*at)]) continue;
      if ((found = matcher.TryAt(at)) || matcher.status.Failed()) break;
    }
  } else {
    const char* at = subject;
    while (!(found = matcher.TryAt(at)) && !matcher.status.Failed() && *at != '\0') ++at;
  }
  if (matcher.status.Failed()) {
    status = matcher.status;
    return false;
  }
  return found;
}

const char* RegexpProgram::FirstSet() const {
  // The single top-level alternative begins with a bracket set: "[Hh]" is
  // how every folded pattern that starts with a letter begins.
  const char* first = program + 1;
  const char* next = NextNode(first);
  if (next == nullptr || NodeOp(next) != RegexpOp::Accept) return nullptr;
  const char* start = NodeOperand(first);
  return NodeOp(start) == RegexpOp::InSet ? NodeOperand(start) : nullptr;
}

RegexpMatcher::RegexpMatcher(RegexpProgram& program, const char* subject)
    : position(subject),
      subjectStart(subject),
      subStart(program.subStart),
      subEnd(program.subEnd),
      program(program) {}

bool RegexpMatcher::TryAt(const char* start) {
  position = start;
  if (!MatchFrom(program.program + 1)) return false;
  subStart[0] = start;
  subEnd[0] = position;
  return true;
}

bool RegexpMatcher::OverBudget() {
#ifdef FUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION
  return ++steps > 1000000;
#else
  return false;
#endif
}

bool RegexpMatcher::MatchFrom(const char* node) {
  while (node != nullptr) {
    if (OverBudget()) return false;
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
        if (*operand != *position) return false;
        const char* at = position;
        while (*operand != '\0' && *operand == *at) ++operand, ++at;
        if (*operand != '\0') return false;
        position = at;
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
        next = operand;  // a single alternative: no choice, no recursion
        break;
      case Op::Loop:
      case Op::Empty: break;
      case Op::ZeroOrMore:
      case Op::OneOrMore: return MatchRepeat(node, next);
      case Op::WordStart:
        if (!AtWordStart()) return false;
        break;
      case Op::WordEnd:
        if (IsWordChar(*position)) return false;
        break;
      default:
        if (op > Op::GroupOpen && op < Op::GroupOpen + kRegexpSlots)
          return MatchGroupOpen(op - Op::GroupOpen, next);
        if (op > Op::GroupClose && op < Op::GroupClose + kRegexpSlots)
          return MatchGroupClose(op - Op::GroupClose, next);
        status.SetError(3);
        return false;
    }
    node = next;
  }
  status.SetError(4);
  return false;
}

bool RegexpMatcher::MatchChoice(const char* alt) {
  const char* saved = position;
  for (; alt != nullptr && NodeOp(alt) == Op::Alt; alt = NextNode(alt)) {
    if (MatchFrom(NodeOperand(alt))) return true;
    if (status.Failed()) return false;
    position = saved;
  }
  return false;
}

bool RegexpMatcher::MatchRepeat(const char* node, const char* next) {
  size_t min = NodeOp(node) == Op::OneOrMore ? 1 : 0;
  // A following literal must begin right after the repeat, so counts that
  // leave another character there are skipped without recursing.
  char lookahead = next != nullptr && NodeOp(next) == Op::Literal ? *NodeOperand(next) : '\0';
  const char* start = position;
  size_t count = CountRepeat(NodeOperand(node));
  if (status.Failed()) return false;
  for (size_t k = count + 1; k-- > min;) {
    position = start + k;
    if ((lookahead == '\0' || *position == lookahead) && MatchFrom(next)) return true;
    if (status.Failed()) return false;
  }
  return false;
}

bool RegexpMatcher::MatchGroupOpen(int group, const char* next) {
  const char* start = position;
  if (!MatchFrom(next)) return false;
  if (subStart[group] == nullptr) subStart[group] = start;
  return true;
}

bool RegexpMatcher::MatchGroupClose(int group, const char* next) {
  const char* end = position;
  if (!MatchFrom(next)) return false;
  if (subEnd[group] == nullptr) subEnd[group] = end;
  return true;
}

bool RegexpMatcher::AtWordStart() const {
  if (!IsWordChar(*position)) return false;
  return position == subjectStart || !IsWordChar(position[-1]);
}

size_t RegexpMatcher::CountRepeat(const char* operand) {
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
    default: status.SetError(5); return 0;
  }
  return static_cast<size_t>(at - position);
}
