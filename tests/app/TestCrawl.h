// TestCrawl: a crawl context with its own options and human reporter, for
// tests that drive the crawler's units in process. Each test (or table row)
// makes a fresh one, so no count or option leaks from one to the next.
#ifndef FERRET_TESTS_APP_TESTCRAWL_H_
#define FERRET_TESTS_APP_TESTCRAWL_H_

#include "app/CrawlContext.h"
#include "app/Options.h"
#include "app/TextReporter.h"

struct TestCrawl {
  Options options;
  TextReporter reporter;
  CrawlContext context{options, reporter};

  const Counters& Counts() const { return reporter.Counts(); }
};

#endif  // FERRET_TESTS_APP_TESTCRAWL_H_
