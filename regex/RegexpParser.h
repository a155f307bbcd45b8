// RegexpParser: the recursive-descent parser that turns a pattern into nodes
// through a RegexpEmitter. The grammar:
//   alternation := branch ('|' branch)*
//   branch      := piece*
//   piece       := atom ('*' | '+' | '?')?
//   atom        := '^' | '$' | '.' | set | '(' alternation ')' | '\<' | '\>'
//                | literal run (a backslash makes any character literal)
// Every error stops the parse at once with its code in the emitter's status.
#ifndef FERRET_REGEX_REGEXPPARSER_H_
#define FERRET_REGEX_REGEXPPARSER_H_

#include "regex/RegexpEmitter.h"

// What a parsed construct is known to do; returned beside each node.
struct RegexpFlags {
  enum : int {
    NonEmpty = 1,       // always consumes at least one character
    SingleChar = 2,     // one node matching exactly one character: it may be
                        // the operand of ZeroOrMore or OneOrMore
    LeadingRepeat = 4,  // begins with a * or + repetition
  };
};

// Parses the whole pattern from emitter.parse. On success returns true and
// the top-level flags in *flags; on failure the emitter's status says why.
bool ParseRegexp(RegexpEmitter& emitter, int* flags);

#endif  // FERRET_REGEX_REGEXPPARSER_H_
