// RegexpProgram: one compiled pattern. It owns the node program, the search
// data computed from it, the submatch slots of the last search and the status
// of the last failed operation on it. Compile (RegexpProgram.cpp) builds it,
// Search (RegexpSearch.cpp, RegexpMatcher.cpp) runs it, Substitute (RegexpSubstitute.cpp)
// expands templates from its slots. Regexp shares one program between copies.
//
// The node format is in RegexpNode.h.
#ifndef FERRET_REGEX_REGEXPPROGRAM_H_
#define FERRET_REGEX_REGEXPPROGRAM_H_

#include <cstdint>

#include "regex/RegexpNode.h"
#include "regex/RegexpStatus.h"
#include "text/CStr.h"

// Rewrites pattern into out so that every ASCII letter outside brackets
// matches either case: a letter becomes "[Xx]". Backslashes are not
// special; a ']' always leaves the bracket state. out must hold
// 4 * strlen(pattern) + 1 bytes.
void FoldCase(const char* pattern, char* out);

class RegexpProgram {
 public:
  // Compiles pattern, folded first when foldCase is nonzero. A null pattern
  // or a pattern that does not compile still gives a program: CompiledOK()
  // is false and the status holds the message.
  RegexpProgram(const char* pattern, int foldCase);
  ~RegexpProgram();
  RegexpProgram(const RegexpProgram&) = delete;
  RegexpProgram& operator=(const RegexpProgram&) = delete;

  // Finds the leftmost match in subject; on success the slots describe it,
  // on failure they are all unset.
  bool Search(const char* subject);
  // Expands & and \0..\9 in tmpl from the slots of the last search.
  CStr Substitute(const char* tmpl);

  // A reference for one more Regexp owner.
  RegexpProgram* Share();
  // Drops one owner's reference; frees the program with its last owner.
  static void Release(RegexpProgram* program);
  bool Shared() const { return shareCount != 0; }
  // An unshared copy with an empty status; nullptr when memory runs out.
  RegexpProgram* PrivateCopy() const;

  bool CompiledOK() const { return compiledOK; }
  RegexpStatus& Status() { return status; }
  const char* Program() const { return program; }
  int ProgramSize() const { return programSize; }
  char FirstChar() const { return firstChar; }
  bool Anchored() const { return anchored; }
  const char* RequiredLiteral() const { return requiredLiteral; }
  int RequiredLength() const { return requiredLength; }
  // The members of the set every match begins with, when the program is one
  // alternative that starts with a bracket set; nullptr otherwise.
  const char* FirstSet() const { return firstSet; }
  // The matcher's work in the last search (RegexpMatcher::Steps).
  uint64_t SearchSteps() const { return searchSteps; }
  const char* SubStartOf(int slot) const { return subStart[slot]; }
  const char* SubEndOf(int slot) const { return subEnd[slot]; }
  int SubStringCount() const { return subStringCount; }

  // Called by Regexp::Match after each search.
  void SetSubStringCount(int count) { subStringCount = count; }
  // Unsets every slot. A search sets slot 0 whenever it sets any, so this
  // costs one test when slot 0 is unset.
  void ClearSlots();
  // Groups 0, 1, 2, ... set without a gap, less one; -1 when slot 0 is unset.
  int CountSetSlots() const {
    int count = 0;
    while (count < kRegexpSlots && subStart[count] != nullptr) ++count;
    return count - 1;
  }

 private:
  friend class RegexpMatcher;
  RegexpProgram();
  bool Compile(const char* pattern);
  void FindSearchData(int flags);
  void FindPrefix(const char* start);
  void FindReplayEnd();
  // Records node as where attempts go on once the prefix has fitted.
  void SkipTo(const char* node);
  // Search from its first candidate on, first not null (with no prefix,
  // the subject).
  bool SearchFrom(const char* first, const char* subject);
  // The matcher over the candidates from first on; sets searchSteps and,
  // on an error, the status.
  bool Run(const char* first, const char* subject);
  // The first position from at on where a match may begin by its first
  // character; nullptr when there is none before the terminating NUL.
  const char* NextCandidate(const char* at) const;
  // Whether the characters from at fit the byte sets of the prefix.
  bool PrefixFits(const char* at) const;

  RegexpStatus status;                      // message of the last failed operation
  int programSize = 0;                      // bytes of program, magic included; 0 = none
  const char* subStart[kRegexpSlots] = {};  // into the subject; null = unset
  const char* subEnd[kRegexpSlots] = {};    // one past the end of each slot
  char firstChar = 0;                       // every match begins with it; 0 = unknown
  bool anchored = false;                    // a match can only begin at the subject start
  const char* requiredLiteral = nullptr;    // text of a Literal node inside
                                            // program that every match holds
  int requiredLength = 0;                   // strlen(requiredLiteral), 0 when null
  const char* firstSet = nullptr;           // members of a leading InSet inside
                                            // program; null when there is none
  static constexpr int kPrefixMax = 8;
  // 256-bit sets of the bytes that may stand at each of the first
  // prefixLength characters of a match (the NUL in none), from the leading
  // one-character nodes of a single alternative.
  uint64_t prefix[kPrefixMax][4] = {};
  int prefixLength = 0;
  // The vector scan for candidates: scanBytes[0..1] hold the one or two
  // bytes of prefix set 0 and, when scanWidth is 2, scanBytes[2..3] those of
  // prefix set 1 (a single byte twice). scanWidth 0: the sets are larger.
  char scanBytes[4] = {};
  int scanWidth = 0;
  // The prefix is the whole program: the single alternative is a chain of
  // one-character nodes and literals of prefixLength characters in all, so
  // a position whose characters fit the prefix sets starts the match, which
  // spans exactly prefixLength characters and has no groups.
  bool prefixIsProgram = false;
  // Where an attempt at a position that fits the prefix goes on: the node
  // (an offset into program) after the leading one-character nodes and
  // literals the prefix sets cover whole, skipLength characters on. Those
  // nodes hold no choice and no group, so skipping them changes nothing.
  int skipNode = 1;
  int skipLength = 0;
  // The bytes of program the two shortcuts above rely on (from the magic to
  // the opcode of node skipNode), as compiled. A search whose program no
  // longer holds them takes neither shortcut, so the matcher finds and
  // reports the damage as it would without them.
  static constexpr int kGuardMax = 64;
  char guard[kGuardMax] = {};
  int guardLength = 0;
  // Where this search's attempts start: skipNode and skipLength when the
  // guarded bytes are intact, else the first node and no characters.
  int startNode = 1;
  int startSkip = 0;
  int groups = 0;  // groups in the pattern, 0..9
  // Where the replay of a successful path may stop: past the last group
  // node when the program has no Loop (then a path only moves forward),
  // otherwise programSize. An offset into program.
  int replayEnd = 0;
  uint64_t searchSteps = 0;  // work of the last search
  char* program = nullptr;   // owned, programSize bytes; null when the
                             // pattern did not compile
  bool compiledOK = false;
  int shareCount = 0;      // owners beyond the first (0 = one owner)
  int subStringCount = 0;  // what Regexp::SubStrings returns
};

#endif  // FERRET_REGEX_REGEXPPROGRAM_H_
