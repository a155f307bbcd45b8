// The main of every GoogleTest executable: GoogleTest's own, once the proxy
// variables are set empty (which means no proxy) for the process and every
// crawl it starts, so that a machine's own proxy (a CI runner's, to reach a
// package archive) never stands between a crawl and its loopback servers.
// The tests of proxies make their settings themselves, or set the variables
// for the crawl they start.
#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char** argv) {
  for (const char* name : {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "no_proxy",
                           "NO_PROXY", "all_proxy", "ALL_PROXY"}) {
    setenv(name, "", 1);
  }
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
