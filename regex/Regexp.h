// Regexp: a compiled pattern and the submatches of its last successful Match.
//
// The pattern is compiled once, at construction; a pattern that does not
// compile gives a Regexp whose CompiledOK is false and that matches nothing.
// Match finds the leftmost match anywhere in a NUL-terminated text; then
// submatch 0 is the whole match and 1..9 the groups, in the order of their
// opening parentheses. Indexes of 10 or more are read as 9.
//
// Match keeps a pointer to the text, never a copy: the caller keeps that text
// unchanged while it reads submatches.
//
// Copies share the compiled program; a copy takes a private copy of it when
// it matches. Nothing throws: each operation (except GetErrorString,
// CompiledOK, SearchFailure and the special members) clears the error message first and
// reports failure through its result and a new message.
//
// Not thread-safe: a Regexp and every copy sharing its program belong to one
// thread. Every member is exported by name from the executable.
#ifndef FERRET_REGEX_REGEXP_H_
#define FERRET_REGEX_REGEXP_H_

#include "text/CStr.h"

class RegexpProgram;

class __attribute__((visibility("default"))) Regexp {
 public:
  // No program: Match fails and every query reports "NULL regexp".
  Regexp();
  // foldCase nonzero: letters outside brackets match either case.
  Regexp(const char* pattern, int foldCase);
  Regexp(const Regexp& other);
  const Regexp& operator=(const Regexp& other);
  ~Regexp();

  bool Match(const char* text);
  // The template with & and \0..\9 replaced by submatches of the last Match.
  CStr GetReplaceString(const char* replacement) const;
  // Groups 1, 2, ... that took part in the last match without a gap; -1
  // after a failed Match.
  int SubStrings() const;
  // Byte offset of submatch index in the text of the last Match; -1 when it
  // took no part in the match.
  int SubStart(unsigned index) const;
  // Length of submatch index; 0 when it took no part in the match.
  int SubLength(unsigned index) const;
  bool CompiledOK() const;
  // A copy of submatch index; empty when it took no part in the match.
  const CStr operator[](unsigned index) const;
  // The message of the last failed operation; empty when it succeeded.
  CStr GetErrorString() const;
  // The message of the latest Match that failed with an error rather than
  // finding no match (out of memory, a damaged program), however many
  // operations ago; empty when none has. Copies that share a program share
  // it. Does not clear the error message.
  CStr SearchFailure() const;

 private:
  int safeIndex(unsigned index) const;
  void ClearErrorString() const;

  const char* subject;     // text of the last Match; not owned
  mutable CStr message;    // the error message when there is no program
  RegexpProgram* program;  // shared between copies; null = none
};

#endif  // FERRET_REGEX_REGEXP_H_
