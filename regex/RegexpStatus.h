// RegexpStatus: the error message of the last failed regex operation, and the
// table of coded messages that every part of the engine reports through.
//
// A status holds one CStr: empty when there is no error, otherwise the text of
// the last code given to SetError. Each operation clears the status first, so
// a message always describes the latest operation.
#ifndef FERRET_REGEX_REGEXPSTATUS_H_
#define FERRET_REGEX_REGEXPSTATUS_H_

#include "text/CStr.h"

// The message of an error code. Codes 1-5 and 25 come from the matcher, 7-9
// from the substitution, 10-22 from the compiler and 24 from Regexp; 6 and 23
// are in the table but never raised. 0 and every unknown code give "Unknown error".
const char* ErrorMessage(int code);

class RegexpStatus {
 public:
  void SetError(int code) {
    message = ErrorMessage(code);
    failed = true;
  }
  // Empties the message and keeps its buffer for the next one. Every
  // operation starts with this, so an empty status costs one test.
  void Clear() {
    if (!failed) return;
    message.Clear();
    failed = false;
  }
  bool Failed() const { return failed; }
  const CStr& Message() const { return message; }

 private:
  CStr message;         // empty = no error
  bool failed = false;  // message is not empty
};

#endif  // FERRET_REGEX_REGEXPSTATUS_H_
