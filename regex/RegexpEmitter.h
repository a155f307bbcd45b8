// RegexpEmitter: the interface through which the parser builds nodes, with
// the parse state shared by both compile passes.
//
// The parser (RegexpParser.h) runs twice over one pattern: first with a
// RegexpSizer that only counts bytes, then, after one allocation of exactly
// that many bytes, with a RegexpWriter that writes the nodes. Both passes make
// the same calls in the same order, so the writer fills the buffer exactly.
#ifndef FERRET_REGEX_REGEXPEMITTER_H_
#define FERRET_REGEX_REGEXPEMITTER_H_

#include <cstddef>

#include "regex/RegexpStatus.h"

class RegexpEmitter {
 public:
  explicit RegexpEmitter(const char* pattern) : parse(pattern) {}
  virtual ~RegexpEmitter() = default;

  // Appends one operand byte.
  virtual void EmitByte(char byte) = 0;
  // Appends a node header (opcode, link 0) and returns the node.
  virtual char* EmitNode(int opcode) = 0;
  // Inserts a node header in front of operand, moving operand and all bytes
  // emitted after it 3 bytes up; the new header stands where operand was.
  virtual void InsertNode(int opcode, char* operand) = 0;
  // Links the last node of node's chain to target.
  virtual void LinkTail(char* node, char* target) = 0;
  // For an Alt node, LinkTail from its operand; nothing for other opcodes.
  virtual void LinkOperandTail(char* node, char* target) = 0;

  RegexpStatus status;
  const char* parse;  // next pattern character to read
  int nextGroup = 1;  // number the next '(' gets; at most 9 groups
};

// Counts the bytes of the program; every node it returns is one dummy node
// with link 0, so every chain walk in this pass ends at once.
class RegexpSizer : public RegexpEmitter {
 public:
  explicit RegexpSizer(const char* pattern) : RegexpEmitter(pattern) {}

  void EmitByte(char byte) override;
  char* EmitNode(int opcode) override;
  void InsertNode(int opcode, char* operand) override;
  void LinkTail(char* node, char* target) override;
  void LinkOperandTail(char* node, char* target) override;

  // Bytes counted so far, the magic byte included. size_t, because a hostile
  // pattern may count far past the program limit before the size is checked.
  size_t Size() const { return size; }

 private:
  size_t size = 1;
  char dummy[3];  // opcode Empty, link 0
};

// Writes nodes into a program buffer sized by a RegexpSizer pass over the
// same pattern. Byte 0 gets the magic; writing starts at byte 1.
class RegexpWriter : public RegexpEmitter {
 public:
  RegexpWriter(const char* pattern, char* program);

  void EmitByte(char byte) override;
  char* EmitNode(int opcode) override;
  void InsertNode(int opcode, char* operand) override;
  void LinkTail(char* node, char* target) override;
  void LinkOperandTail(char* node, char* target) override;

  // Bytes written so far, the magic byte included.
  size_t Size() const { return static_cast<size_t>(write - program); }

 private:
  char* program;  // not owned
  char* write;    // next byte to write
};

#endif  // FERRET_REGEX_REGEXPEMITTER_H_
