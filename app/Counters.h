// Counters: what a run has done, as the counters line reports it.
//
// Only the Reporter (app/Reporter.h) changes them, as it reports each event,
// so every count matches a line the user saw or an exchange that happened.
#ifndef FERRET_APP_COUNTERS_H_
#define FERRET_APP_COUNTERS_H_

struct Counters {
  int saves = 0;    // response bodies saved whole and put in place
  int prints = 0;   // URLs printed
  int hits = 0;     // response headers read: answers, redirects and error statuses
  int http200 = 0;  // answers with a 2xx status (or none) whose body was taken
  int errors = 0;   // every failure reported
  int refused = 0;  // URLs passed over unasked: confinement, robots.txt, scope, -once

  // The share of hits that were answers, in whole percent; 0 without hits.
  long long Percent200() const {
    // 64-bit product: the quotient is the 32-bit one whenever that one exists.
    return hits == 0 ? 0 : static_cast<long long>(http200) * 100 / hits;
  }
};

#endif  // FERRET_APP_COUNTERS_H_
