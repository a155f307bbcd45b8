// RegexpDump: a readable listing of a node program, for tests and debugging.
//
// One node per line: "offset: Name -> next" and, for InSet, NotInSet and
// Literal, the operand in double quotes. next is the successor's offset, 0
// when there is none. Bytes outside printable ASCII, the backslash and the
// double quote are written as \xHH.
#ifndef FERRET_REGEX_REGEXPDUMP_H_
#define FERRET_REGEX_REGEXPDUMP_H_

#include <string>

// program is size bytes, magic included. A listing of a damaged program ends
// at the first byte that is not a known opcode, with "offset: ? <opcode>".
std::string DumpRegexpProgram(const char* program, int size);

#endif  // FERRET_REGEX_REGEXPDUMP_H_
