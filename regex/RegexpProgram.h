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
#include <memory>

#include "regex/MultiLiteralScan.h"
#include "regex/RegexpNode.h"
#include "regex/RegexpReach.h"
#include "regex/RegexpScan.h"
#include "regex/RegexpStatus.h"
#include "text/CStr.h"

// Rewrites pattern into out so that every ASCII letter outside brackets
// matches either case: a letter becomes "[Xx]". Sets are read as the parser
// reads them (a ']' right after "[" or "[^" is a member, and a backslash in a
// set is a member) and copied unchanged. Outside sets a backslash escapes the
// next character: "\\[" stays a literal bracket and an escaped letter folds
// like the letter. out must hold 4 * strlen(pattern) + 1 bytes.
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
  // The error code of the latest search that ended in an error (out of
  // memory, a damaged program); 0 when none has. Kept across searches, so a
  // caller may look once after many.
  int LastSearchError() const { return lastSearchError; }
  // Searches find their candidates with the literal scan (LiteralSet.h).
  bool UsesLiteralScan() const { return literalExtent > 0; }
  // The matcher's work in the last search (RegexpMatcher::Steps).
  uint64_t SearchSteps() const { return searchSteps; }
  // A slot of the last search; nullptr when it is unset.
  const char* SubStartOf(int slot) const { return Matched() ? subStart[slot] : nullptr; }
  const char* SubEndOf(int slot) const { return Matched() ? subEnd[slot] : nullptr; }
  // What Regexp::SubStrings returns: 0 before the first Regexp::Match, then
  // the groups 1, 2, ... of the last search set without a gap (-1 when it
  // found nothing).
  int SubStringCount() const {
    return subStringCount == kCountSlots ? CountSetSlots() : subStringCount;
  }
  // Called by Regexp::Match after each search: the count follows the slots.
  void CountSubStringsFromSlots() { subStringCount = kCountSlots; }

 private:
  friend class RegexpMatcher;
  friend class RegexpLinear;
  RegexpProgram();
  bool Compile(const char* pattern);
  void FindSearchData(int flags);
  void FindPrefix(const char* start);
  void FindReplayEnd();
  // Sets up the literal scan when every match begins with one of a few
  // strings and the prefix scan would test fewer than two characters, and
  // fewer than the literal scan.
  void FindLiterals();
  void BuildLiteralScan();
  // Records node as where attempts go on once the prefix has fitted.
  void SkipTo(const char* node);
  // Search from its first candidate on, first not null (with no prefix,
  // the subject).
  bool SearchFrom(const char* first, const char* subject);
  // The matcher over the candidates from first on, of the literal scan when
  // literals is set; sets searchSteps and, on an error, the status.
  bool Run(const char* first, const char* subject, bool literals = false);
  // The first position from at on where a match may begin by its first
  // character; nullptr when there is none before the terminating NUL.
  const char* NextCandidate(const char* at) const;
  // Whether program still holds the guard's bytes (and there are some).
  bool GuardIntact() const;
  // The literal scan is set up and program still holds the bytes it was
  // read from.
  bool LiteralsIntact() const;
  // Search and Run over the literal scan's candidates, first not null.
  bool SearchLiterals(const char* first, const char* subject);
  // Whether no match can begin at from or after it, sure: false when the
  // answer is maybe, or the program has no RegexpReach. *steps grows by the
  // characters read. The matcher asks once, when a search turns out costly
  // (before it sets up its memo), and Run before any attempt on a subject of
  // kLongSubject characters or more.
  bool NoMatchFrom(const char* from, uint64_t* steps);
  static constexpr size_t kLongSubject = 64 * 1024;
  // Built at the first search that asks; null when the program has none.
  std::unique_ptr<RegexpReach> reach;
  bool reachBuilt = false;
  // Where this search was last told a match may begin: the answer from
  // there stays the same, so it is not asked for again.
  const char* reachMaybeFrom = nullptr;
  // Whether the characters from at, a candidate of the scan, fit the byte
  // sets of the prefix.
  bool PrefixFits(const char* at) const;

  // The last search matched. Slot 0 is set exactly when it did; the other
  // slots mean nothing while slot 0 is unset, so a failed search clears
  // slot 0 alone.
  bool Matched() const { return subStart[0] != nullptr; }
  // Groups 0, 1, 2, ... set without a gap, less one; -1 when slot 0 is unset.
  int CountSetSlots() const;
  // The whole-match slot is unset: the search found nothing.
  void Unmatch() { subStart[0] = subEnd[0] = nullptr; }

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
  // The scan for candidates, built from the prefix sets.
  RegexpScan scan;
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
  // The scan for candidates when some match may begin with a string the
  // prefix sets do not describe (an alternation) or they describe one
  // character only; then literalGuard holds a copy of the program's bytes
  // [0, literalExtent) the scan was read from, and a search whose program
  // no longer holds them does not use it. literalExtent 0: no literal scan
  // (and both pointers are null). Both owned; most programs have none, so
  // they cost a compile nothing.
  MultiLiteralScan* literalScan = nullptr;
  char* literalGuard = nullptr;
  int literalExtent = 0;
  // Keeps a copy of the scan and, as the guard, of extent bytes; false (and
  // nothing set up) when memory runs out.
  bool KeepLiteralScan(const MultiLiteralScan& scan, const char* bytes, int extent);
  int groups = 0;  // groups in the pattern, 0..9
  // Where the replay of a successful path may stop: past the last group
  // node when the program has no Loop (then a path only moves forward),
  // otherwise programSize. An offset into program.
  int replayEnd = 0;
  uint64_t searchSteps = 0;  // work of the last search
  int lastSearchError = 0;
  char* program = nullptr;   // owned, programSize bytes; null when the
                             // pattern did not compile
  bool compiledOK = false;
  int shareCount = 0;  // owners beyond the first (0 = one owner)
  // SubStringCount's value, or kCountSlots: count the set slots when asked.
  static constexpr int kCountSlots = -2;
  int subStringCount = 0;
};

#endif  // FERRET_REGEX_REGEXPPROGRAM_H_
