#include "regex/Regexp.h"

#include <new>

#include "regex/RegexpProgram.h"
#include "text/CStrFatal.h"

namespace {

constexpr int kNullRegexp = 24;

}  // namespace

Regexp::Regexp() : subject(nullptr), program(nullptr) {}

Regexp::Regexp(const char* pattern, int foldCase)
    : subject(nullptr), program(new (std::nothrow) RegexpProgram(pattern, foldCase)) {}

Regexp::Regexp(const Regexp& other)
    : subject(other.subject),
      message(other.message),
      program(other.program != nullptr ? other.program->Share() : nullptr) {}

const Regexp& Regexp::operator=(const Regexp& other) {
  if (this == &other) return *this;
  RegexpProgram::Release(program);
  program = other.program != nullptr ? other.program->Share() : nullptr;
  subject = other.subject;
  message = other.message;
  return *this;
}

Regexp::~Regexp() { RegexpProgram::Release(program); }

bool Regexp::Match(const char* text) {
  ClearErrorString();
  subject = text;
  if (program != nullptr && program->Shared()) {
    // Matching writes the slots: a shared program is copied first. Without
    // memory for the copy this Regexp goes on without a program.
    RegexpProgram* shared = program;
    program = shared->PrivateCopy();
    RegexpProgram::Release(shared);
  }
  if (program == nullptr) {
    message = ErrorMessage(kNullRegexp);
    return false;
  }
  // A failed search leaves every slot unset: no stale submatch outlives it.
  bool found = program->Search(text);
  program->CountSubStringsFromSlots();
  return found;
}

CStr Regexp::GetReplaceString(const char* replacement) const {
  ClearErrorString();
  if (program == nullptr) {
    message = ErrorMessage(kNullRegexp);
    return CStr();
  }
  return program->Substitute(replacement);
}

int Regexp::SubStrings() const {
  ClearErrorString();
  if (program == nullptr) {
    message = ErrorMessage(kNullRegexp);
    return -1;
  }
  return program->SubStringCount();
}

int Regexp::SubStart(unsigned index) const {
  ClearErrorString();
  if (program == nullptr) {
    message = ErrorMessage(kNullRegexp);
    return -1;
  }
  const char* start = program->SubStartOf(safeIndex(index));
  return start != nullptr ? static_cast<int>(start - subject) : -1;
}

int Regexp::SubLength(unsigned index) const {
  ClearErrorString();
  if (program == nullptr) {
    message = ErrorMessage(kNullRegexp);
    return -1;
  }
  int slot = safeIndex(index);
  const char* start = program->SubStartOf(slot);
  const char* end = program->SubEndOf(slot);
  return start != nullptr && end != nullptr ? static_cast<int>(end - start) : 0;
}

bool Regexp::CompiledOK() const { return program != nullptr && program->CompiledOK(); }

const CStr Regexp::operator[](unsigned index) const {
  ClearErrorString();
  if (program == nullptr) {
    message = ErrorMessage(kNullRegexp);
    return CStr();
  }
  int slot = safeIndex(index);
  int length = SubLength(slot);
  if (length <= 0) return CStr();
  if (length > static_cast<int>(kCStrMaxLength)) CStrFatal(5);
  CStr result(static_cast<unsigned short>(length));
  result.Append(program->SubStartOf(slot), static_cast<unsigned short>(length));
  return result;
}

CStr Regexp::GetErrorString() const {
  return program != nullptr ? program->Status().Message() : message;
}

CStr Regexp::SearchFailure() const {
  int code = program != nullptr ? program->LastSearchError() : 0;
  return code != 0 ? CStr(ErrorMessage(code)) : CStr();
}

int Regexp::safeIndex(unsigned index) const { return index < 10 ? static_cast<int>(index) : 9; }

// message is set only while there is no program, and a Regexp that has a
// program never had it set since (copies and assignment take it along with
// the program), so with a program only the program's status needs clearing.
void Regexp::ClearErrorString() const {
  if (program != nullptr)
    program->Status().Clear();
  else if (!message.IsEmpty())
    message.Clear();
}
