#include "tests/support/ScriptedProxy.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "net/Sockets.h"
#include "tests/support/Loopback.h"

namespace {

constexpr int kTimeoutMs = 10000;
constexpr int kSliceMs = 50;  // how often a wait looks at the stop flag
constexpr size_t kMaxHead = 64 * 1024;

bool SendAll(int fd, const std::string& bytes) {
  size_t sent = 0;
  while (sent < bytes.size()) {
    long n = RetryOnEintr(
        [&] { return send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL); });
    if (n <= 0) return false;
    sent += static_cast<size_t>(n);
  }
  return true;
}

// Waits for input on the entries, a slice at a time, until one has some,
// stopping turns true or kTimeoutMs pass: whether one has.
bool AwaitInput(pollfd* entries, nfds_t count, const std::atomic<bool>& stopping) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kTimeoutMs);
  while (!stopping && std::chrono::steady_clock::now() < deadline) {
    int ready = RetryOnEintr([&] { return poll(entries, count, kSliceMs); });
    if (ready != 0) return ready > 0;
  }
  return false;
}

bool StartsWithNoCase(const std::string& text, const char* prefix) {
  size_t length = std::strlen(prefix);
  return text.size() >= length && strncasecmp(text.c_str(), prefix, length) == 0;
}

// The value of the head's Proxy-Authorization field, blanks trimmed.
std::string AuthorizationOf(const std::string& head) {
  static const char kName[] = "\r\nProxy-Authorization:";
  for (size_t at = head.find("\r\n"); at != std::string::npos; at = head.find("\r\n", at + 2)) {
    if (!StartsWithNoCase(head.substr(at, sizeof kName - 1), kName)) continue;
    size_t begin = head.find_first_not_of(" \t", at + sizeof kName - 1);
    size_t end = head.find("\r\n", begin);
    return head.substr(begin, end - begin);
  }
  return std::string();
}

// The head without its Proxy-Authorization field, its first line replaced.
std::string ForwardedHead(const std::string& head, const std::string& firstLine) {
  std::string out = firstLine + "\r\n";
  size_t at = head.find("\r\n") + 2;
  while (at < head.size()) {
    size_t end = head.find("\r\n", at);
    std::string line = head.substr(at, end + 2 - at);
    if (!StartsWithNoCase(line, "Proxy-Authorization:")) out += line;
    at = end + 2;
  }
  return out;
}

std::string Answer(const char* status) {
  return std::string("HTTP/1.1 ") + status + "\r\nContent-Length: 0\r\n\r\n";
}

}  // namespace

ScriptedProxy::ScriptedProxy(const std::string& address)
    : host(address),
      port(0),
      stopping(false),
      refusing(false),
      accepted(0),
      listener(LoopbackAddress(address), &port, 64, "test proxy") {
  listener.Start([this](int fd) { accept(fd); });
}

ScriptedProxy::~ScriptedProxy() {
  stopping = true;
  listener.Stop();
  // No connection is accepted any more, so `workers` no longer grows.
  for (std::thread& worker : workers) worker.join();
}

std::string ScriptedProxy::HostPort() const { return host + ":" + std::to_string(port); }

void ScriptedProxy::Refuse(const std::string& response) {
  std::lock_guard<std::mutex> hold(mutex);
  refusing = true;
  refusal = response;
}

std::vector<ScriptedProxy::Seen> ScriptedProxy::Requests() const {
  std::lock_guard<std::mutex> hold(mutex);
  return seen;
}

size_t ScriptedProxy::Accepted() const {
  std::lock_guard<std::mutex> hold(mutex);
  return accepted;
}

void ScriptedProxy::accept(int fd) {
  std::lock_guard<std::mutex> hold(mutex);
  ++accepted;
  workers.emplace_back([this, fd] {
    serve(fd);
    closeGracefully(fd);
  });
}

bool ScriptedProxy::readHead(int client, std::string* head, std::string* rest) {
  std::string bytes;
  for (;;) {
    size_t end = bytes.find("\r\n\r\n");
    if (end != std::string::npos) {
      *head = bytes.substr(0, end + 4);
      *rest = bytes.substr(end + 4);
      return true;
    }
    pollfd entry{client, POLLIN, 0};
    if (bytes.size() > kMaxHead || !AwaitInput(&entry, 1, stopping)) return false;
    char chunk[4096];
    long n = RetryOnEintr([&] { return recv(client, chunk, sizeof chunk, 0); });
    if (n <= 0) return false;
    bytes.append(chunk, static_cast<size_t>(n));
  }
}

void ScriptedProxy::serve(int client) {
  std::string head, rest;
  if (!readHead(client, &head, &rest)) return;
  std::string line = head.substr(0, head.find("\r\n"));
  std::string refusalNow;
  {
    std::lock_guard<std::mutex> hold(mutex);
    seen.push_back({line, AuthorizationOf(head)});
    if (refusing) refusalNow = refusal;
  }
  if (!refusalNow.empty()) {
    SendAll(client, refusalNow);
    return;
  }
  forward(client, head, line, rest);
}

void ScriptedProxy::forward(int client, const std::string& head, const std::string& line,
                            const std::string& rest) {
  // "METHOD target VERSION".
  size_t space = line.find(' ');
  size_t last = line.rfind(' ');
  if (space == std::string::npos || last == space) {
    SendAll(client, Answer("400 Bad Request"));
    return;
  }
  std::string method = line.substr(0, space);
  std::string target = line.substr(space + 1, last - space - 1);
  std::string version = line.substr(last + 1);
  bool tunnel = method == "CONNECT";
  std::string origin = target;
  std::string path;
  if (!tunnel) {
    if (target.compare(0, 7, "http://") != 0) {
      SendAll(client, Answer("400 Bad Request"));
      return;
    }
    size_t slash = target.find('/', 7);
    origin = target.substr(7, slash == std::string::npos ? std::string::npos : slash - 7);
    path = slash == std::string::npos ? "/" : target.substr(slash);
  }
  int server = connectOrigin(origin);
  if (server == -1) {
    SendAll(client, Answer("502 Bad Gateway"));
    return;
  }
  bool sent = tunnel ? SendAll(client, "HTTP/1.1 200 Connection established\r\n\r\n")
                     : SendAll(server, ForwardedHead(head, method + " " + path + " " + version));
  if (sent && SendAll(server, rest)) relay(client, server);
  close(server);
}

int ScriptedProxy::connectOrigin(const std::string& target) {
  size_t colon = target.rfind(':');
  if (colon == std::string::npos) return -1;
  in_addr address;
  std::string hostText = target.substr(0, colon);
  int originPort = std::atoi(target.c_str() + colon + 1);
  if (inet_pton(AF_INET, hostText.c_str(), &address) != 1 || (ntohl(address.s_addr) >> 24) != 127 ||
      originPort <= 0 || originPort > 65535) {
    return -1;
  }
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in peer;
  std::memset(&peer, 0, sizeof peer);
  peer.sin_family = AF_INET;
  peer.sin_addr = address;
  peer.sin_port = htons(static_cast<uint16_t>(originPort));
  if (fd != -1 && connect(fd, reinterpret_cast<sockaddr*>(&peer), sizeof peer) == 0) return fd;
  if (fd != -1) close(fd);
  return -1;
}

void ScriptedProxy::closeGracefully(int fd) {
  shutdown(fd, SHUT_WR);
  pollfd entry{fd, POLLIN, 0};
  char chunk[4096];
  while (AwaitInput(&entry, 1, stopping) &&
         RetryOnEintr([&] { return recv(fd, chunk, sizeof chunk, 0); }) > 0) {
  }
  close(fd);
}

void ScriptedProxy::relay(int a, int b) {
  pollfd entries[2] = {{a, POLLIN, 0}, {b, POLLIN, 0}};
  while (AwaitInput(entries, 2, stopping)) {
    for (int i = 0; i < 2; ++i) {
      if (entries[i].revents == 0) continue;
      char chunk[16384];
      long n = RetryOnEintr([&] { return recv(entries[i].fd, chunk, sizeof chunk, 0); });
      if (n <= 0 || !SendAll(entries[1 - i].fd, std::string(chunk, static_cast<size_t>(n)))) {
        return;
      }
    }
  }
}
