#include "regex/RegexpStatus.h"

namespace {

struct ErrorEntry {
  int code;
  const char* message;
};

// Searched from the top; the entry of code 0 ends the table and answers for
// every code that is not listed.
const ErrorEntry kErrorTable[] = {
    {1, "NULL argument to regexec"},
    {2, "corrupted regexp"},
    {3, "regexp corruption"},
    {4, "corrupted pointers"},
    {5, "internal error: bad call of regrepeat"},
    {6, "corrupted opcode"},
    {7, "NULL parm to regsub"},
    {8, "damaged regexp fed to regsub"},
    {9, "damaged match string"},
    {10, "NULL argument to regcomp"},
    {11, "regexp too big"},
    {12, "too many ()"},
    {13, "unterminated ()"},
    {14, "unmatched ()"},
    {15, "internal error: junk on end"},
    {16, "*+ operand could be empty"},
    {17, "nested *?+"},
    {18, "invalid [] range"},
    {19, "unmatched []"},
    {20, "internal error: \\0|) unexpected"},
    {21, "?+* follows nothing"},
    {22, "trailing \\"},
    {23, "internal error: strcspn 0"},
    {24, "NULL regexp"},
    {25, "out of memory in regexec"},
    {0, "Unknown error"},
};

}  // namespace

const char* ErrorMessage(int code) {
  const ErrorEntry* entry = kErrorTable;
  while (entry->code != code && entry->code != 0) ++entry;
  return entry->message;
}
