#include "regex/RegexpDump.h"

#include <cstdio>
#include <cstring>

#include "regex/RegexpNode.h"

namespace {

using Op = RegexpOp;

// The opcode's name, or "" for a byte that is no opcode.
std::string OpName(int op) {
  static const char* const kNames[] = {"Accept",     "LineStart", "LineEnd",   "AnyChar", "InSet",
                                       "NotInSet",   "Alt",       "Loop",      "Literal", "Empty",
                                       "ZeroOrMore", "OneOrMore", "WordStart", "WordEnd"};
  if (op <= Op::WordEnd) return kNames[op];
  if (op > Op::GroupOpen && op < Op::GroupOpen + kRegexpSlots)
    return "GroupOpen" + std::to_string(op - Op::GroupOpen);
  if (op > Op::GroupClose && op < Op::GroupClose + kRegexpSlots)
    return "GroupClose" + std::to_string(op - Op::GroupClose);
  return std::string();
}

bool HasTextOperand(int op) { return op == Op::InSet || op == Op::NotInSet || op == Op::Literal; }

void AppendQuoted(std::string& out, const char* text) {
  out += '"';
  for (; *text != '\0'; ++text) {
    unsigned char c = static_cast<unsigned char>(*text);
    if (c >= 0x20 && c < 0x7F && c != '\\' && c != '"') {
      out += static_cast<char>(c);
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    }
  }
  out += '"';
}

}  // namespace

std::string DumpRegexpProgram(const char* program, int size) {
  std::string out;
  int offset = 1;
  while (offset + 3 <= size) {
    const char* node = program + offset;
    std::string name = OpName(NodeOp(node));
    out += std::to_string(offset) + ": ";
    if (name.empty()) {
      out += "? " + std::to_string(NodeOp(node)) + "\n";
      break;
    }
    const char* next = NextNode(node);
    out += name + " -> " + std::to_string(next != nullptr ? next - program : 0);
    offset += 3;
    if (HasTextOperand(NodeOp(node))) {
      const void* nul = std::memchr(program + offset, '\0', size - offset);
      if (nul == nullptr) break;  // damaged: the operand runs off the end
      out += ' ';
      AppendQuoted(out, program + offset);
      offset = static_cast<int>(static_cast<const char*>(nul) - program) + 1;
    }
    out += '\n';
  }
  return out;
}
