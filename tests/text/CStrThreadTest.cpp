// CStr from several threads: shared representations copied, written and
// released at once, strings handed from one thread to another, the pool's
// free lists taken from and given to concurrently. Lost count updates show
// as wrong counts or texts here; every unordered access is reported when the
// suite runs under ThreadSanitizer (scripts/test-tsan).
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "text/CStr.h"
#include "text/CStrPool.h"

namespace {

constexpr int kThreads = 4;

std::string Text(const CStr& s) { return std::string(static_cast<const char*>(s), s.Length()); }

// Runs body(thread index) on kThreads threads released together, so that
// their work overlaps as much as the machine allows.
void RunTogether(const std::function<void(int)>& body) {
  std::atomic<bool> go{false};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      while (!go.load()) std::this_thread::yield();
      body(t);
    });
  }
  go.store(true);
  for (std::thread& thread : threads) thread.join();
}

TEST(CStrThreads, SharedStringsCopiedWrittenAndReleasedAtOnce) {
  // Empty (emptyRep), pooled, just under the pool limit, and heap sizes.
  const std::vector<std::string> texts = {"", "a", "host.example", std::string(300, 'p'),
                                          std::string(1000, 'h')};
  std::vector<CStr> sources;
  for (const std::string& text : texts) sources.emplace_back(text.c_str());
  const int32_t emptyBefore = emptyRep.refs;
  std::mutex mailboxLock;
  std::vector<CStr> mailbox(kThreads);  // slot t: written by thread t, read by t + 1
  std::atomic<int> wrong{0};

  RunTogether([&](int t) {
    for (int i = 0; i < 2000; ++i) {
      const size_t k = static_cast<size_t>(i + t) % texts.size();
      std::vector<CStr> copies(sources);
      CStr assigned;
      assigned = sources[k];
      copies[k] += 'x';  // copy before write while other threads read the rep
      assigned.Append(assigned, assigned.Length());
      if (Text(copies[k]) != texts[k] + "x" || Text(assigned) != texts[k] + texts[k] ||
          Text(sources[k]) != texts[k]) {
        ++wrong;
      }
      // A string made here and shared with the next thread: whichever thread
      // lets go last gives its blocks back.
      CStr mine(texts[k].c_str());
      mine += static_cast<char>('0' + t);
      CStr theirs;
      {
        std::lock_guard<std::mutex> hold(mailboxLock);
        mailbox[static_cast<size_t>(t)] = mine;
        theirs = mailbox[static_cast<size_t>((t + 1) % kThreads)];
      }
      mine.Clear();  // shared with the mailbox: a fresh rep, the old one untouched
      if (!theirs.IsEmpty() && theirs[theirs.Length() - 1] != '0' + (t + 1) % kThreads) ++wrong;
      theirs = "";
    }
  });

  EXPECT_EQ(wrong.load(), 0);
  mailbox.clear();
  for (size_t k = 0; k < texts.size(); ++k) {
    EXPECT_EQ(Text(sources[k]), texts[k]) << k;
    // emptyRep's count is left alone once threads exist: it only must never
    // have fallen to where a write in place would pass.
    if (k == 0) {
      EXPECT_GE(sources[k].Rep()->refs, emptyBefore) << k;
    } else {
      EXPECT_EQ(sources[k].Rep()->refs, 1) << k;
    }
  }
}

TEST(CStrThreads, PoolHandsEachBlockToOneThreadAtATime) {
  // Pooled sizes, the record size, and a heap size.
  const size_t sizes[] = {sizeof(CStrRep), 8, 20, 316, 400};
  std::atomic<int> wrong{0};
  RunTogether([&](int t) {
    void* blocks[sizeof sizes / sizeof sizes[0]];
    for (int i = 0; i < 3000; ++i) {
      const unsigned char mark = static_cast<unsigned char>(t * 64 + i % 64);
      for (size_t s = 0; s < sizeof sizes / sizeof sizes[0]; ++s) {
        blocks[s] = CStrPool::Take(sizes[s]);
        std::memset(blocks[s], mark, sizes[s]);
      }
      // A block handed to two threads at once carries the other's mark.
      for (size_t s = 0; s < sizeof sizes / sizeof sizes[0]; ++s) {
        const unsigned char* bytes = static_cast<const unsigned char*>(blocks[s]);
        for (size_t b = 0; b < sizes[s]; ++b) {
          if (bytes[b] != mark) {
            ++wrong;
            break;
          }
        }
        CStrPool::Give(blocks[s], sizes[s]);
      }
    }
  });
  EXPECT_EQ(wrong.load(), 0);
}

}  // namespace
