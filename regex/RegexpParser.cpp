#include "regex/RegexpParser.h"

#include "regex/RegexpNode.h"

namespace {

using Op = RegexpOp;
using Flags = RegexpFlags;

bool IsRepeat(char c) { return c == '*' || c == '+' || c == '?'; }

// Characters that end a literal run after the one before them.
bool EndsRun(char c) {
  switch (c) {
    case '\0':
    case '\n':
    case '$':
    case '(':
    case ')':
    case '.':
    case '[':
    case '^':
    case '|': return true;
    default: return false;
  }
}

// One parse over one emitter. Every function returns the node it built, or
// nullptr after recording an error in the emitter's status.
class Parser {
 public:
  explicit Parser(RegexpEmitter& out) : out(out) {}

  char* Alternation(bool paren, int* flags);

 private:
  char* Fail(int code) {
    out.status.SetError(code);
    return nullptr;
  }
  char* Branch(int* flags);
  char* Piece(int* flags);
  void BuildRepeat(char op, char* atom, int atomFlags);
  char* Atom(int* flags);
  char* Set();
  char* LiteralRun(int* flags);

  RegexpEmitter& out;
};

void MergeBranch(int* flags, int branchFlags) {
  if (!(branchFlags & Flags::NonEmpty)) *flags &= ~Flags::NonEmpty;
  *flags |= branchFlags & Flags::LeadingRepeat;
}

char* Parser::Alternation(bool paren, int* flags) {
  *flags = Flags::NonEmpty;
  int group = 0;
  char* open = nullptr;
  if (paren) {
    if (out.nextGroup >= 10) return Fail(12);
    group = out.nextGroup++;
    open = out.EmitNode(Op::GroupOpen + group);
  }
  int branchFlags;
  char* branch = Branch(&branchFlags);
  if (branch == nullptr) return nullptr;
  char* result = branch;
  if (paren) {
    out.LinkTail(open, branch);
    result = open;
  }
  MergeBranch(flags, branchFlags);
  while (*out.parse == '|') {
    ++out.parse;
    branch = Branch(&branchFlags);
    if (branch == nullptr) return nullptr;
    out.LinkTail(result, branch);
    MergeBranch(flags, branchFlags);
  }
  char* ender = out.EmitNode(paren ? Op::GroupClose + group : Op::Accept);
  out.LinkTail(result, ender);
  // The end of every alternative leads to the ender.
  for (char* node = result; node != nullptr; node = NextNode(node))
    out.LinkOperandTail(node, ender);
  if (paren) {
    if (*out.parse != ')') return Fail(13);
    ++out.parse;
  } else if (*out.parse != '\0') {
    return Fail(*out.parse == ')' ? 14 : 15);
  }
  return result;
}

char* Parser::Branch(int* flags) {
  *flags = 0;
  char* alt = out.EmitNode(Op::Alt);
  char* previous = nullptr;
  for (char c = *out.parse; c != '\0' && c != '|' && c != ')'; c = *out.parse) {
    int pieceFlags;
    char* piece = Piece(&pieceFlags);
    if (piece == nullptr) return nullptr;
    *flags |= pieceFlags & Flags::NonEmpty;
    if (previous == nullptr)
      *flags |= pieceFlags & Flags::LeadingRepeat;
    else
      out.LinkTail(previous, piece);
    previous = piece;
  }
  if (previous == nullptr) out.EmitNode(Op::Empty);
  return alt;
}

char* Parser::Piece(int* flags) {
  int atomFlags;
  char* atom = Atom(&atomFlags);
  if (atom == nullptr) return nullptr;
  char op = *out.parse;
  if (!IsRepeat(op)) {
    *flags = atomFlags;
    return atom;
  }
  if (!(atomFlags & Flags::NonEmpty) && op != '?') return Fail(16);
  *flags = op == '*'   ? Flags::LeadingRepeat
           : op == '+' ? Flags::NonEmpty | Flags::LeadingRepeat
                       : 0;
  BuildRepeat(op, atom, atomFlags);
  ++out.parse;
  if (IsRepeat(*out.parse)) return Fail(17);
  return atom;  // after an insertion the inserted header stands here
}

void Parser::BuildRepeat(char op, char* atom, int atomFlags) {
  if (op == '*' && (atomFlags & Flags::SingleChar)) {
    out.InsertNode(Op::ZeroOrMore, atom);
  } else if (op == '+' && (atomFlags & Flags::SingleChar)) {
    out.InsertNode(Op::OneOrMore, atom);
  } else if (op == '*') {
    // Alt[atom, Loop back to the Alt], Alt[Empty]
    out.InsertNode(Op::Alt, atom);
    char* loop = out.EmitNode(Op::Loop);
    out.LinkOperandTail(atom, loop);
    out.LinkOperandTail(atom, atom);
    out.LinkTail(atom, out.EmitNode(Op::Alt));
    out.LinkTail(atom, out.EmitNode(Op::Empty));
  } else if (op == '+') {
    // atom, Alt[Loop back to the atom], Alt[Empty]
    char* alt = out.EmitNode(Op::Alt);
    out.LinkTail(atom, alt);
    out.LinkTail(out.EmitNode(Op::Loop), atom);
    out.LinkTail(alt, out.EmitNode(Op::Alt));
    out.LinkTail(atom, out.EmitNode(Op::Empty));
  } else {
    // Alt[atom], Alt[Empty]; both lead to the Empty node
    out.InsertNode(Op::Alt, atom);
    out.LinkTail(atom, out.EmitNode(Op::Alt));
    char* empty = out.EmitNode(Op::Empty);
    out.LinkTail(atom, empty);
    out.LinkOperandTail(atom, empty);
  }
}

char* Parser::Atom(int* flags) {
  *flags = 0;
  char c = *out.parse;
  switch (c) {
    case '\0':
    case '|':
    case ')': return Fail(20);
    case '*':
    case '+':
    case '?': return Fail(21);
    default: break;
  }
  ++out.parse;
  switch (c) {
    case '^': return out.EmitNode(Op::LineStart);
    case '$': return out.EmitNode(Op::LineEnd);
    case '.': *flags = Flags::NonEmpty | Flags::SingleChar; return out.EmitNode(Op::AnyChar);
    case '[': *flags = Flags::NonEmpty | Flags::SingleChar; return Set();
    case '(': {
      int groupFlags;
      char* group = Alternation(true, &groupFlags);
      *flags = groupFlags & (Flags::NonEmpty | Flags::LeadingRepeat);
      return group;
    }
    case '\\': {
      char escaped = *out.parse;
      if (escaped == '\0') return Fail(22);
      if (escaped == '<' || escaped == '>') {
        ++out.parse;
        return out.EmitNode(escaped == '<' ? Op::WordStart : Op::WordEnd);
      }
      return LiteralRun(flags);  // starts at the escaped character
    }
    default: --out.parse; return LiteralRun(flags);
  }
}

char* Parser::Set() {
  char* node;
  if (*out.parse == '^') {
    node = out.EmitNode(Op::NotInSet);
    ++out.parse;
  } else {
    node = out.EmitNode(Op::InSet);
  }
  if (*out.parse == ']' || *out.parse == '-') out.EmitByte(*out.parse++);
  for (;;) {
    char c = *out.parse;
    if (c == '\0' || c == ']') {
      out.EmitByte('\0');
      if (c == '\0') return Fail(19);
      ++out.parse;
      return node;
    }
    ++out.parse;
    char end = *out.parse;
    if (c != '-' || end == ']' || end == '\0') {
      out.EmitByte(c);
      continue;
    }
    // A range from the member before the '-' (already emitted) to end,
    // compared as signed bytes. One that spans 0 leaves the NUL out: it ends
    // the member list, and no subject holds it.
    int from = static_cast<signed char>(out.parse[-2]);
    int to = static_cast<signed char>(end);
    if (from > to) return Fail(18);
    for (int v = from + 1; v <= to; ++v) {
      if (v != 0) out.EmitByte(static_cast<char>(v));
    }
    ++out.parse;
  }
}

// A run of literal characters starting at the parse position. A run stops
// before a metacharacter; before a repetition operator it gives its last
// character back, so that the operator applies to that character alone.
char* Parser::LiteralRun(int* flags) {
  char* node = out.EmitNode(Op::Literal);
  const char* backOff = nullptr;  // where the last character began
  for (;;) {
    char d = *out.parse++;
    char c = *out.parse;
    if (EndsRun(c)) {
      out.EmitByte(d);
      break;
    }
    if (IsRepeat(c)) {
      if (backOff != nullptr)
        out.parse = backOff;
      else
        out.EmitByte(d);
      break;
    }
    out.EmitByte(d);
    if (c == '\\') {
      char escaped = out.parse[1];
      if (escaped == '\0' || escaped == '<' || escaped == '>') break;
      backOff = out.parse++;
    } else {
      backOff = out.parse;
    }
  }
  out.EmitByte('\0');
  *flags = Flags::NonEmpty | (backOff == nullptr ? Flags::SingleChar : 0);
  return node;
}

}  // namespace

bool ParseRegexp(RegexpEmitter& emitter, int* flags) {
  return Parser(emitter).Alternation(false, flags) != nullptr;
}
