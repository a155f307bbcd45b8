#include "app/Settings.h"

#include <iostream>

#include "app/Progress.h"

RunSettings runSettings;
char LineBuffer[kLineBufferSize];

void PrintCounters() {
  ProgressClear();
  const RunSettings& s = runSettings;
  // 64-bit product: the quotient is the 32-bit one whenever that one exists.
  long long percent = s.hits == 0 ? 0 : static_cast<long long>(s.http200) * 100 / s.hits;
  std::cout << "Saves(" << s.saves << ") Prints(" << s.prints << ") Hits(" << s.hits
            << ") HTTP 200(" << percent << "%) Errors(" << s.errors << ")" << std::endl;
}

void ResetRunSettings() { runSettings = RunSettings(); }
