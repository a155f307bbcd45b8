// RegexpNode: the node program format shared by the compiler, the matcher,
// the substitution and the dump, with the helpers that read a node.
//
// Node program format, byte for byte:
//   byte 0      kRegexpMagic; Search and Substitute refuse anything else
//   byte 1...   nodes; the first is always an Alt
// A node is an opcode byte, a next-link (signed 16-bit, low byte first) and
// then its operand, if any, from byte 3 of the node. The link is the distance
// from this node to its successor: backwards for Loop, forwards for every
// other opcode; 0 means no successor. Links are never negative, so the whole
// program stays below kRegexpMaxSize bytes.
//
// This header depends on nothing else in regex/, so every unit that reads or
// writes nodes includes it without pulling in the compiled-program class.
#ifndef FERRET_REGEX_REGEXPNODE_H_
#define FERRET_REGEX_REGEXPNODE_H_

#include <cstdint>

constexpr unsigned char kRegexpMagic = 0x9C;
constexpr int kRegexpMaxSize = 0x7FFF;  // a program must be smaller than this
constexpr int kRegexpSlots = 10;        // submatch 0 (whole match) and 9 groups;
                                        // group n has opcodes GroupOpen + n and
                                        // GroupClose + n, 1 <= n < kRegexpSlots

// Opcodes. The numbers are part of the node format.
struct RegexpOp {
  enum Code : unsigned char {
    Accept = 0,       // end of the program: the match succeeds
    LineStart = 1,    // ^: only at the start of the subject
    LineEnd = 2,      // $: only at the end of the subject (a newline is text)
    AnyChar = 3,      // .: any one character
    InSet = 4,        // [...]: operand = member bytes, NUL-terminated
    NotInSet = 5,     // [^...]: operand = member bytes, NUL-terminated
    Alt = 6,          // one alternative; operand = its first node, right after
                      // the header; the link leads to the next alternative
    Loop = 7,         // backward link closing * and + over complex operands
    Literal = 8,      // operand = text of at least one byte, NUL-terminated
    Empty = 9,        // matches the empty string
    ZeroOrMore = 10,  // greedy 0..n; operand = one single-character node
    OneOrMore = 11,   // greedy 1..n; operand = one single-character node
    WordStart = 12,   // \<: the current character starts a word
    WordEnd = 13,     // \>: the current character is not a word character
    GroupOpen = 20,   // GroupOpen + n (21..29): start of group n
    GroupClose = 30,  // GroupClose + n (31..39): end of group n
  };
};

inline int NodeOp(const char* node) { return static_cast<unsigned char>(node[0]); }
inline int NodeLink(const char* node) {
  return static_cast<int16_t>(static_cast<unsigned char>(node[1]) |
                              (static_cast<unsigned char>(node[2]) << 8));
}
inline const char* NodeOperand(const char* node) { return node + 3; }

// The successor of a node, or nullptr when its link is 0.
inline const char* NextNode(const char* node) {
  int link = NodeLink(node);
  if (link == 0) return nullptr;
  return NodeOp(node) == RegexpOp::Loop ? node - link : node + link;
}
inline char* NextNode(char* node) {
  return const_cast<char*>(NextNode(static_cast<const char*>(node)));
}

// What \< and \> call a word character.
inline bool IsRegexpWordChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

// Whether c is among the NUL-terminated members of a set; c is not NUL.
inline bool IsSetMember(const char* members, char c) {
  for (; *members != '\0'; ++members)
    if (*members == c) return true;
  return false;
}

// The opcodes of the nodes that take exactly one character: those a repeat
// may take as its operand (a Literal there has one byte).
inline bool IsOneCharOp(int op) {
  return op == RegexpOp::AnyChar || op == RegexpOp::InSet || op == RegexpOp::NotInSet ||
         op == RegexpOp::Literal;
}

// Whether a one-character node (a Literal read as its first byte) takes c;
// none takes the NUL that ends the subject.
inline bool OneCharNodeTakes(const char* node, char c) {
  if (c == '\0') return false;
  const char* members = NodeOperand(node);
  switch (NodeOp(node)) {
    case RegexpOp::AnyChar: return true;
    case RegexpOp::InSet: return IsSetMember(members, c);
    case RegexpOp::NotInSet: return !IsSetMember(members, c);
    default: return c == *members;
  }
}

// A place where a path of the program tests one character, as the searches
// that follow every path at once (RegexpLinear, RegexpReach) tell them
// apart: a one-character node, one byte of a literal, the operand of a
// repeat, or the program's end (which tests nothing and accepts).
struct RegexpCharTest {
  enum Kind : uint8_t { kOneChar, kLiteralByte, kOperand, kAccept };
  Kind kind;
  const char* node;  // the node; for kOperand the repeat
  const char* byte;  // kLiteralByte: the byte tested

  // Whether the path takes c here; none takes the NUL that ends the subject.
  bool Takes(char c) const {
    switch (kind) {
      case kLiteralByte: return c != '\0' && c == *byte;
      case kOperand: return OneCharNodeTakes(NodeOperand(node), c);
      case kOneChar: return OneCharNodeTakes(node, c);
      default: return false;
    }
  }
};

#endif  // FERRET_REGEX_REGEXPNODE_H_
