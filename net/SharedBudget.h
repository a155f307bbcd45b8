// SharedBudget: a count that several threads draw on up to a cap (bytes of
// memory, links kept), so that what they hold between them stays bounded
// whatever each one meets. Thread-safe and lock-free; whoever takes gives
// back.
#ifndef FERRET_NET_SHAREDBUDGET_H_
#define FERRET_NET_SHAREDBUDGET_H_

#include <atomic>
#include <cstddef>

class SharedBudget {
 public:
  explicit SharedBudget(size_t cap) : cap(cap) {}
  SharedBudget(const SharedBudget&) = delete;
  SharedBudget& operator=(const SharedBudget&) = delete;

  // Takes amount, or nothing (false) when it would pass the cap.
  bool Take(size_t amount) {
    size_t now = held.load(std::memory_order_relaxed);
    do {
      if (amount > cap || now > cap - amount) return false;
    } while (!held.compare_exchange_weak(now, now + amount, std::memory_order_relaxed));
    return true;
  }
  void Give(size_t amount) { held.fetch_sub(amount, std::memory_order_relaxed); }
  size_t Held() const { return held.load(std::memory_order_relaxed); }

 private:
  const size_t cap;
  std::atomic<size_t> held{0};
};

#endif  // FERRET_NET_SHAREDBUDGET_H_
