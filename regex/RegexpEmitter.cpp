#include "regex/RegexpEmitter.h"

#include <cstring>

#include "regex/RegexpNode.h"

void RegexpSizer::EmitByte(char) { size += 1; }

char* RegexpSizer::EmitNode(int) {
  size += 3;
  // Reset on every call: the parser never writes through it, but a stale
  // link here would make a chain walk run off into the object.
  dummy[0] = static_cast<char>(RegexpOp::Empty);
  dummy[1] = 0;
  dummy[2] = 0;
  return dummy;
}

void RegexpSizer::InsertNode(int, char*) { size += 3; }

void RegexpSizer::LinkTail(char*, char*) {}

void RegexpSizer::LinkOperandTail(char*, char*) {}

RegexpWriter::RegexpWriter(const char* pattern, char* program)
    : RegexpEmitter(pattern), program(program), write(program + 1) {
  program[0] = static_cast<char>(kRegexpMagic);
}

void RegexpWriter::EmitByte(char byte) { *write++ = byte; }

char* RegexpWriter::EmitNode(int opcode) {
  char* node = write;
  node[0] = static_cast<char>(opcode);
  node[1] = 0;
  node[2] = 0;
  write += 3;
  return node;
}

void RegexpWriter::InsertNode(int opcode, char* operand) {
  std::memmove(operand + 3, operand, static_cast<size_t>(write - operand));
  operand[0] = static_cast<char>(opcode);
  operand[1] = 0;
  operand[2] = 0;
  write += 3;
}

void RegexpWriter::LinkTail(char* node, char* target) {
  char* last = node;
  for (char* next = NextNode(last); next != nullptr; next = NextNode(last)) last = next;
  // Both lie inside one program smaller than kRegexpMaxSize bytes, so the
  // distance fits the positive half of the 16-bit link.
  long distance = NodeOp(last) == RegexpOp::Loop ? last - target : target - last;
  last[1] = static_cast<char>(distance & 0xFF);
  last[2] = static_cast<char>((distance >> 8) & 0xFF);
}

void RegexpWriter::LinkOperandTail(char* node, char* target) {
  if (NodeOp(node) == RegexpOp::Alt) LinkTail(node + 3, target);
}
