// ParsedUrl: the Url a test's text stands for; text that does not parse
// fails the test (and gives an empty Url).
#ifndef FERRET_TESTS_SUPPORT_PARSEDURL_H_
#define FERRET_TESTS_SUPPORT_PARSEDURL_H_

#include <gtest/gtest.h>

#include <string>

#include "net/Url.h"

inline Url ParsedUrl(const std::string& text) {
  Url url;
  UrlProblem problem;
  EXPECT_TRUE(url.Parse(text.c_str(), &problem)) << text;
  return url;
}

#endif  // FERRET_TESTS_SUPPORT_PARSEDURL_H_
