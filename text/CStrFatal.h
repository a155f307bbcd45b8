// CStrFatal: the one fatal error of the string type.
//
// Writes "CStr fatal <code>" and a newline to standard error, then aborts.
// Codes: 2 ReverseFind position out of range, 3 format directive %n,
// 4 format directive %S, 5 a length or capacity past 65530.
#ifndef FERRET_TEXT_CSTRFATAL_H_
#define FERRET_TEXT_CSTRFATAL_H_

[[noreturn]] void CStrFatal(int code);

#endif  // FERRET_TEXT_CSTRFATAL_H_
