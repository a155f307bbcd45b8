#include "net/ConnectionPool.h"

#include <algorithm>

std::string ConnectionPool::KeyOf(const Url& url) {
  std::string key = url.Secure() ? "https://" : "http://";
  key += static_cast<const char*>(url.Host());
  key += ':';
  key += std::to_string(url.Port());
  return key;
}

void ConnectionPool::Expire(Clock::time_point now, std::vector<Kept>* expired) {
  auto fresh = std::find_if(kept.begin(), kept.end(), [now](const Kept& one) {
    return now - one.since < std::chrono::seconds(kIdleSeconds);
  });
  std::move(kept.begin(), fresh, std::back_inserter(*expired));
  kept.erase(kept.begin(), fresh);
}

std::unique_ptr<SocketStreamBuf> ConnectionPool::Take(const std::string& key) {
  // Each one is checked outside the lock (the check is a system call); one
  // that fails is closed, and the next newest tried.
  for (;;) {
    std::unique_ptr<SocketStreamBuf> connection = takeNewest(key);
    if (connection == nullptr || connection->StillUsable()) return connection;
  }
}

std::unique_ptr<SocketStreamBuf> ConnectionPool::takeNewest(const std::string& key) {
  std::vector<Kept> closing;  // closed when this returns, outside the lock
  std::lock_guard<std::mutex> lock(mutex);
  Expire(Clock::now(), &closing);
  for (size_t i = kept.size(); i-- > 0;) {
    if (kept[i].key != key) continue;
    std::unique_ptr<SocketStreamBuf> connection = std::move(kept[i].connection);
    kept.erase(kept.begin() + static_cast<std::ptrdiff_t>(i));
    return connection;
  }
  return nullptr;
}

void ConnectionPool::Keep(const std::string& key, std::unique_ptr<SocketStreamBuf> connection) {
  std::vector<Kept> closing;
  std::lock_guard<std::mutex> lock(mutex);
  Clock::time_point now = Clock::now();
  Expire(now, &closing);
  size_t same = 0;
  auto oldestSame = kept.end();
  for (auto one = kept.begin(); one != kept.end(); ++one) {
    if (one->key != key) continue;
    if (same++ == 0) oldestSame = one;
  }
  if (same >= kMaxIdlePerServer) {
    closing.push_back(std::move(*oldestSame));
    kept.erase(oldestSame);
  } else if (kept.size() >= kMaxIdle) {
    closing.push_back(std::move(kept.front()));
    kept.erase(kept.begin());
  }
  kept.push_back({key, std::move(connection), now});
}

size_t ConnectionPool::Idle() const {
  std::lock_guard<std::mutex> lock(mutex);
  return kept.size();
}
