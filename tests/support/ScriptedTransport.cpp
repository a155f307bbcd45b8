#include "tests/support/ScriptedTransport.h"

#include <cerrno>
#include <cstring>

ScriptedTransport& ScriptedTransport::Deliver(std::string chunk) {
  chunks.push_back(std::move(chunk));
  return *this;
}

ScriptedTransport& ScriptedTransport::FailAfter(int error) {
  failure = error;
  return *this;
}

ScriptedTransport& ScriptedTransport::SendLimit(size_t limit) {
  sendLimit = limit;
  return *this;
}

long ScriptedTransport::Send(const char* data, size_t length) {
  size_t taken = length < sendLimit ? length : sendLimit;
  log->sent.append(data, taken);
  return static_cast<long>(taken);
}

long ScriptedTransport::Receive(char* data, size_t length) {
  ++log->receives;
  if (chunks.empty()) {
    if (failure == 0) return 0;
    errno = failure;
    return -1;
  }
  std::string& next = chunks.front();
  size_t taken = next.size() < length ? next.size() : length;
  std::memcpy(data, next.data(), taken);
  next.erase(0, taken);
  if (next.empty()) chunks.pop_front();
  return static_cast<long>(taken);
}
