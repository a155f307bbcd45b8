// CStrFatal: the one fatal error of the string type.
//
// Writes "CStr fatal <code>" to standard error, followed for the newer codes
// by ": " and a reason, then a newline, and aborts. It allocates nothing, so
// it also serves when memory has run out.
// Codes: 2 ReverseFind position out of range, 3 format directive %n,
// 4 format directive %S, 5 a length or capacity past 65530,
// 6 "out of memory": the heap refused a block for a string or its pool.
#ifndef FERRET_TEXT_CSTRFATAL_H_
#define FERRET_TEXT_CSTRFATAL_H_

constexpr int kCStrOutOfMemory = 6;

[[noreturn]] void CStrFatal(int code);

#endif  // FERRET_TEXT_CSTRFATAL_H_
