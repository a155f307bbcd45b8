#include "tests/support/ScriptedServer.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <utility>

#include "net/Sockets.h"  // RetryOnEintr
#include "tests/support/HttpResponse.h"
#include "tests/support/Loopback.h"

namespace {

constexpr int kSliceMs = 50;  // how often blocked threads look at `stopping`
constexpr size_t kChunkSize = 65536;

// Where the request's header ends ("\n\n" or "\r\n\r\n"), or npos.
size_t headerEnd(const std::string& request) {
  size_t lf = request.find("\n\n");
  size_t crlf = request.find("\r\n\r\n");
  if (lf != std::string::npos) lf += 2;
  if (crlf != std::string::npos) crlf += 4;
  return lf < crlf ? lf : crlf;
}

std::string requestPath(const std::string& request) {
  size_t start = request.find(' ');
  if (start == std::string::npos) return std::string();
  size_t end = request.find_first_of(" \r\n", start + 1);
  return request.substr(start + 1, end == std::string::npos ? end : end - start - 1);
}

}  // namespace

// ---------------------------------------------------------------- script

ConnectionScript& ConnectionScript::add(Op op, std::string bytes, size_t count) {
  steps.push_back(Step{op, std::move(bytes), count});
  return *this;
}

ConnectionScript& ConnectionScript::ReceiveOnce() { return add(Op::kReceiveOnce); }
ConnectionScript& ConnectionScript::Receive(size_t count) {
  return add(Op::kReceive, std::string(), count);
}
ConnectionScript& ConnectionScript::ReceiveAvailable() { return add(Op::kReceiveAvailable); }
ConnectionScript& ConnectionScript::ReceiveUntilClosed() { return add(Op::kReceiveUntilClosed); }
ConnectionScript& ConnectionScript::Send(std::string bytes) {
  return add(Op::kSend, std::move(bytes));
}
ConnectionScript& ConnectionScript::WaitForGo() { return add(Op::kWaitForGo); }
ConnectionScript& ConnectionScript::Close() { return add(Op::kClose); }
ConnectionScript& ConnectionScript::CloseWithoutNotify() { return add(Op::kCloseWithoutNotify); }
ConnectionScript& ConnectionScript::Abort() { return add(Op::kAbort); }

// ---------------------------------------------------------------- server

// The state of one scripted connection, guarded by the server's mutex.
struct ScriptedServer::Connection {
  explicit Connection(const ConnectionScript& s) : script(s) {}
  ConnectionScript script;
  std::vector<std::string> receives;
  size_t stepsDone = 0;
  size_t goes = 0;      // Go calls so far
  size_t goesUsed = 0;  // WaitForGo steps released so far; <= goes
  bool done = false;
  std::string error;
};

ScriptedServer::ScriptedServer(const std::string& addressText, int fixedPort)
    : host(addressText),
      address(LoopbackAddress(addressText)),
      port(fixedPort),
      // Room for a client that opens dozens of connections at once.
      listener(address, &port, 128, "test server"),
      stopping(false),
      timeoutMs(10000),
      nextScript(0),
      closeOnAccept(false),
      stallOnAccept(false),
      accepted(0),
      handshakes(0),
      defaultResponse(NotFoundResponse()),
      delayMaxMs(0) {
  listener.Start([this](int fd) { accept(fd); });
}

ScriptedServer::~ScriptedServer() {
  stopping = true;
  changed.notify_all();
  listener.Stop();
  // No connection is accepted any more, so `workers` no longer grows.
  for (auto& worker : workers) worker.second.join();
}

std::string ScriptedServer::HostPort() const { return host + ":" + std::to_string(port); }

std::string ScriptedServer::Url(const std::string& path) const {
  return (TlsEnabled() ? "https://" : "http://") + HostPort() + path;
}

void ScriptedServer::SetTimeoutMs(int milliseconds) { timeoutMs = milliseconds; }

void ScriptedServer::accept(int fd) {
  reapWorkers();
  std::lock_guard<std::mutex> hold(mutex);
  size_t number = accepted++;
  if (++open > mostOpen) mostOpen = open;
  workers.emplace(number, std::thread([this, fd, number] {
                    serve(fd, number);
                    std::lock_guard<std::mutex> done(mutex);
                    --open;
                    finishedWorkers.push_back(number);
                  }));
  changed.notify_all();
}

// A crawl makes thousands of connections; joining the ended workers keeps
// their stacks from piling up until the server is destroyed.
void ScriptedServer::reapWorkers() {
  std::vector<std::thread> ended;
  {
    std::lock_guard<std::mutex> hold(mutex);
    for (size_t number : finishedWorkers) {
      auto found = workers.find(number);
      ended.push_back(std::move(found->second));
      workers.erase(found);
    }
    finishedWorkers.clear();
  }
  // Each has only its final unlock left to run.
  for (std::thread& worker : ended) worker.join();
}

void ScriptedServer::serve(int fd, size_t number) {
  Connection* connection = nullptr;
  bool closeNow;
  bool stall;
  std::shared_ptr<const ServerTls> serverTls;
  {
    std::lock_guard<std::mutex> hold(mutex);
    if (nextScript < scripted.size()) connection = scripted[nextScript++].get();
    closeNow = closeOnAccept;
    stall = stallOnAccept;
    serverTls = tls;
  }
  ServerStream stream(fd, serverTls, stopping);  // closes fd when it goes
  std::string error;
  if (connection != nullptr) {
    runScript(&stream, connection);
  } else if (closeNow) {
    return;
  } else if (stall) {
    stream.DiscardUntilClosed(timeoutMs);
  } else if (handshake(&stream, &error)) {
    serveHttp(&stream, number);
  }
}

bool ScriptedServer::handshake(ServerStream* stream, std::string* error) {
  bool ok = stream->Handshake(timeoutMs, error);
  if (stream->IsTls()) {
    std::lock_guard<std::mutex> hold(mutex);
    if (ok) {
      ++handshakes;
    } else {
      handshakeErrors.push_back(*error);
    }
    changed.notify_all();
  }
  return ok;
}

// ---------------------------------------------------------------- TLS and stall

void ScriptedServer::EnableTls(const TestCertificate& certificate, TlsVersions versions) {
  auto made = std::make_shared<const ServerTls>(certificate, versions);
  std::lock_guard<std::mutex> hold(mutex);
  tls = made;
}

bool ScriptedServer::TlsEnabled() const {
  std::lock_guard<std::mutex> hold(mutex);
  return tls != nullptr;
}

size_t ScriptedServer::Handshakes() const {
  std::lock_guard<std::mutex> hold(mutex);
  return handshakes;
}

std::vector<std::string> ScriptedServer::HandshakeErrors() const {
  std::lock_guard<std::mutex> hold(mutex);
  return handshakeErrors;
}

bool ScriptedServer::WaitForHandshakes(size_t count) {
  std::unique_lock<std::mutex> lock(mutex);
  return waitFor(lock, [&] { return handshakes + handshakeErrors.size() >= count; });
}

void ScriptedServer::SetStallOnAccept(bool on) {
  std::lock_guard<std::mutex> hold(mutex);
  stallOnAccept = on;
}

template <typename Ready>
bool ScriptedServer::waitFor(std::unique_lock<std::mutex>& lock, Ready ready) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!ready()) {
    if (stopping || std::chrono::steady_clock::now() >= deadline) return false;
    changed.wait_for(lock, std::chrono::milliseconds(kSliceMs));
  }
  return true;
}

// ---------------------------------------------------------------- scripts

int ScriptedServer::AddScript(const ConnectionScript& script) {
  std::lock_guard<std::mutex> hold(mutex);
  scripted.push_back(std::make_unique<Connection>(script));
  return static_cast<int>(scripted.size() - 1);
}

void ScriptedServer::Go(int connection) {
  std::lock_guard<std::mutex> hold(mutex);
  ++scripted.at(connection)->goes;
  changed.notify_all();
}

bool ScriptedServer::WaitForSteps(int connection, size_t steps) {
  std::unique_lock<std::mutex> lock(mutex);
  Connection* c = scripted.at(connection).get();
  return waitFor(lock, [&] { return c->stepsDone >= steps || !c->error.empty(); }) &&
         c->stepsDone >= steps;
}

bool ScriptedServer::WaitUntilDone(int connection) {
  std::unique_lock<std::mutex> lock(mutex);
  Connection* c = scripted.at(connection).get();
  return waitFor(lock, [&] { return c->done; });
}

std::vector<std::string> ScriptedServer::Receives(int connection) const {
  std::lock_guard<std::mutex> hold(mutex);
  return scripted.at(connection)->receives;
}

std::string ScriptedServer::Received(int connection) const {
  std::string all;
  for (const std::string& chunk : Receives(connection)) all += chunk;
  return all;
}

std::string ScriptedServer::Error(int connection) const {
  std::lock_guard<std::mutex> hold(mutex);
  return scripted.at(connection)->error;
}

void ScriptedServer::runScript(ServerStream* stream, Connection* connection) {
  using Op = ConnectionScript::Op;
  const std::vector<ConnectionScript::Step>& steps = connection->script.Steps();
  std::string error;
  if (!handshake(stream, &error)) {
    std::lock_guard<std::mutex> hold(mutex);
    connection->error = "handshake: " + error;
  }
  for (size_t i = 0; i < steps.size() && error.empty(); ++i) {
    bool ok = runStep(stream, connection, steps[i], &error);
    Op op = steps[i].op;
    std::lock_guard<std::mutex> hold(mutex);
    if (!ok) {
      connection->error = "step " + std::to_string(i) + ": " + error;
      break;
    }
    connection->stepsDone = i + 1;
    changed.notify_all();
    if (op == Op::kAbort || op == Op::kClose || op == Op::kCloseWithoutNotify) break;
  }
  {
    std::lock_guard<std::mutex> hold(mutex);
    connection->done = true;
    changed.notify_all();
  }
  stream->CloseGracefully(timeoutMs);  // nothing left to do after Abort
}

bool ScriptedServer::runStep(ServerStream* stream, Connection* connection,
                             const ConnectionScript::Step& step, std::string* error) {
  using Op = ConnectionScript::Op;
  switch (step.op) {
    case Op::kReceiveOnce: return receive(stream, connection, kChunkSize, true, error);
    case Op::kReceiveAvailable: return receive(stream, connection, kChunkSize, false, error);
    case Op::kReceive:
      for (size_t got = 0; got < step.count;) {
        size_t before = receivedBytes(connection);
        if (!receive(stream, connection, step.count - got, true, error)) return false;
        size_t now = receivedBytes(connection);
        if (now == before) {
          *error = "stream ended after " + std::to_string(got) + " bytes";
          return false;
        }
        got += now - before;
      }
      return true;
    case Op::kReceiveUntilClosed:
      for (;;) {
        size_t before = receivedBytes(connection);
        if (!receive(stream, connection, kChunkSize, true, error)) return false;
        if (receivedBytes(connection) == before) return true;
      }
    case Op::kSend: return stream->WriteAll(step.bytes, timeoutMs, error);
    case Op::kWaitForGo: {
      std::unique_lock<std::mutex> lock(mutex);
      if (!waitFor(lock, [&] { return connection->goes > connection->goesUsed; })) {
        *error = "no Go";
        return false;
      }
      ++connection->goesUsed;
      return true;
    }
    case Op::kClose: stream->ShutdownWrite(true); return true;
    case Op::kCloseWithoutNotify: stream->ShutdownWrite(false); return true;
    case Op::kAbort: stream->Abort(); return true;
  }
  return false;
}

size_t ScriptedServer::receivedBytes(Connection* connection) const {
  std::lock_guard<std::mutex> hold(mutex);
  size_t total = 0;
  for (const std::string& chunk : connection->receives) total += chunk.size();
  return total;
}

// One recv call of at most `wanted` bytes, recorded as one chunk. With wait,
// it first waits (bounded) for data or the end of the stream.
bool ScriptedServer::receive(ServerStream* stream, Connection* connection, size_t wanted, bool wait,
                             std::string* error) {
  std::string chunk;
  if (!stream->Read(wanted < kChunkSize ? wanted : kChunkSize, wait, timeoutMs, &chunk, error)) {
    return false;
  }
  std::lock_guard<std::mutex> hold(mutex);
  connection->receives.push_back(chunk);
  return true;
}

// ---------------------------------------------------------------- close at once

void ScriptedServer::SetCloseOnAccept(bool on) {
  std::lock_guard<std::mutex> hold(mutex);
  closeOnAccept = on;
}

size_t ScriptedServer::Accepted() const {
  std::lock_guard<std::mutex> hold(mutex);
  return accepted;
}

// ---------------------------------------------------------------- HTTP

void ScriptedServer::SetResponse(const std::string& path, const std::string& response) {
  std::lock_guard<std::mutex> hold(mutex);
  responses[path] = response;
}

void ScriptedServer::SetResponses(const std::string& path, std::vector<std::string> answers) {
  std::lock_guard<std::mutex> hold(mutex);
  answersInTurn[path].assign(answers.begin(), answers.end());
}

void ScriptedServer::SetDefaultResponse(const std::string& response) {
  std::lock_guard<std::mutex> hold(mutex);
  defaultResponse = response;
}

std::vector<std::string> ScriptedServer::Requests() const {
  std::lock_guard<std::mutex> hold(mutex);
  return requests;
}

std::vector<std::string> ScriptedServer::RequestPaths() const {
  std::vector<std::string> paths;
  for (const std::string& request : Requests()) paths.push_back(requestPath(request));
  return paths;
}

void ScriptedServer::ClearRequests() {
  std::lock_guard<std::mutex> hold(mutex);
  requests.clear();
  requestConnections.clear();
  requestTimings.clear();
  mostOpen = open;
}

std::vector<ScriptedServer::Timing> ScriptedServer::RequestTimings() const {
  std::lock_guard<std::mutex> hold(mutex);
  return requestTimings;
}

size_t ScriptedServer::MostOpenAtOnce() const {
  std::lock_guard<std::mutex> hold(mutex);
  return mostOpen;
}

std::vector<size_t> ScriptedServer::RequestConnections() const {
  std::lock_guard<std::mutex> hold(mutex);
  return requestConnections;
}

void ScriptedServer::SetRequestsPerConnection(size_t n) {
  std::lock_guard<std::mutex> hold(mutex);
  requestsPerConnection = n > 0 ? n : 1;
}

void ScriptedServer::SetResponseDelay(int maxMs, uint32_t seed) {
  std::lock_guard<std::mutex> hold(mutex);
  delayMaxMs = maxMs;
  delays.seed(seed);
}

int ScriptedServer::nextDelayMs() {
  std::lock_guard<std::mutex> hold(mutex);
  if (delayMaxMs <= 0) return 0;
  return std::uniform_int_distribution<int>(0, delayMaxMs)(delays);
}

void ScriptedServer::DelayResponse(const std::string& path, int ms) {
  std::lock_guard<std::mutex> hold(mutex);
  pathDelaysMs[path] = ms;
}

bool ScriptedServer::WaitForRequests(size_t count) {
  std::unique_lock<std::mutex> lock(mutex);
  return waitFor(lock, [&] { return requests.size() >= count; });
}

void ScriptedServer::HoldResponse(const std::string& path) {
  std::lock_guard<std::mutex> hold(mutex);
  heldPaths.insert(path);
}

void ScriptedServer::ReleaseResponse(const std::string& path) {
  std::lock_guard<std::mutex> hold(mutex);
  heldPaths.erase(path);
  changed.notify_all();
}

void ScriptedServer::serveHttp(ServerStream* stream, size_t number) {
  std::string pending;  // bytes read past the last request's empty line
  std::string chunk;
  std::string error;
  size_t most;
  {
    std::lock_guard<std::mutex> hold(mutex);
    most = requestsPerConnection;
  }
  for (size_t served = 0; served < most; ++served) {
    // A client sends nothing after the empty line until it has the
    // response, so the bytes up to it are one request.
    std::string request = std::move(pending);
    pending.clear();
    while (headerEnd(request) == std::string::npos &&
           stream->Read(4096, true, timeoutMs, &chunk, &error) && !chunk.empty()) {
      request += chunk;
    }
    size_t end = headerEnd(request);
    if (end != std::string::npos) {
      pending = request.substr(end);
      request.resize(end);
    }
    // A kept connection the client closes was not a request.
    if (served > 0 && request.empty()) break;
    std::string response;
    int pathDelay = 0;
    {
      std::unique_lock<std::mutex> lock(mutex);
      requests.push_back(request);
      requestConnections.push_back(number);
      requestTimings.push_back({std::chrono::steady_clock::now(), {}});
      std::string path = requestPath(request);
      auto found = responses.find(path);
      response = found != responses.end() ? found->second : defaultResponse;
      auto inTurn = answersInTurn.find(path);
      if (inTurn != answersInTurn.end() && !inTurn->second.empty()) {
        response = inTurn->second.front();
        if (inTurn->second.size() > 1) inTurn->second.pop_front();
      }
      changed.notify_all();
      waitFor(lock, [&] { return heldPaths.count(path) == 0; });
      auto slow = pathDelaysMs.find(path);
      pathDelay = slow != pathDelaysMs.end() ? slow->second : 0;
    }
    int delay = nextDelayMs() + pathDelay;
    if (delay > 0) std::this_thread::sleep_for(std::chrono::milliseconds(delay));
    bool written = stream->WriteAll(response, timeoutMs, &error);
    {
      std::lock_guard<std::mutex> hold(mutex);
      for (size_t i = requestConnections.size(); i-- > 0;) {
        if (requestConnections[i] != number) continue;
        requestTimings[i].answered = std::chrono::steady_clock::now();
        break;
      }
    }
    if (!written || end == std::string::npos) break;
  }
  stream->CloseGracefully(timeoutMs);
}
