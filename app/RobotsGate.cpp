#include "app/RobotsGate.h"

#include <string_view>

#include "app/Archive.h"
#include "net/HttpRequest.h"

namespace {

// The product token ferret's group is looked for by.
constexpr char kProductToken[] = "ferret";

// Up to kMaxRobotsBytes of body, as its reader delivers them.
std::string ReadBody(ResponseBody& body) {
  std::string text;
  while (body.Connected() && text.size() < kMaxRobotsBytes) {
    std::string_view piece = body.NextPiece();
    if (piece.empty()) break;
    size_t take = std::min(piece.size(), kMaxRobotsBytes - text.size());
    text.append(piece.data(), take);
    body.ConsumePiece(take);
  }
  return text;
}

}  // namespace

RobotsGate::RobotsGate(Connector connect, ConnectionPool* pool, HostPacer* pacer,
                       bool keepExchanges)
    : connect(std::move(connect)), pool(pool), pacer(pacer), keepExchanges(keepExchanges) {}

void RobotsGate::Load(const Url& url, Server* into) {
  Url robots;
  UrlProblem problem;
  RobotsFetch kind = RobotsFetch::kClientError;
  std::string body;
  if (url.Resolve("/robots.txt", &robots, &problem)) {
    int exchanges = 0;
    auto recordings = std::make_shared<Recordings>();
    ExchangeRecorder recorder{recordings.get(), kMaxRobotsBytes, nullptr, true};
    FetchOutcome outcome = Fetch(
        robots, [&exchanges](const Url&) { return ++exchanges <= 1 + kMaxRobotsRedirects; },
        connect, keepExchanges ? &recorder : nullptr, pool);
    if (keepExchanges) into->exchanges = recordings;
    if (outcome.status == FetchStatus::kAnswered) {
      body = ReadBody(*outcome.body);
      kind = RobotsFetch::kAnswered;
      Failure cut;
      if (!outcome.body->Complete(&cut)) {
        into->truncated = CrawlArchive::TruncationOf(cut.kind);
      } else if (!outcome.body->Ended()) {
        into->truncated = "length";
      }
    } else if (outcome.status == FetchStatus::kFailed) {
      const Failure& failure = outcome.failure;
      bool status = failure.kind == FailureKind::kHttpError;
      if (status && failure.status >= 500) {
        kind = RobotsFetch::kServerError;
        into->reason = "HTTP " + std::to_string(failure.status);
      } else if (!status && failure.kind != FailureKind::kTooManyRedirects &&
                 failure.kind != FailureKind::kRedirectScheme) {
        kind = RobotsFetch::kUnreachable;
        into->reason = "no answer";
      }
    }
  }
  into->unreachable = kind == RobotsFetch::kServerError || kind == RobotsFetch::kUnreachable;
  into->rules = RobotsTxt::ForOutcome(kind, body).For(kProductToken);
  if (pacer != nullptr && into->rules.CrawlDelaySeconds() > 0) {
    pacer->AtLeast(static_cast<const char*>(url.Host()), into->rules.CrawlDelaySeconds());
  }
}

RobotsGate::Server& RobotsGate::ServerOf(const Url& url) {
  const std::string key = ConnectionPool::KeyOf(url);
  std::unique_lock<std::mutex> lock(mutex);
  auto found = servers.find(key);
  if (found != servers.end()) {
    Server& server = *found->second;
    loaded.wait(lock, [&server] { return server.ready; });
    return server;
  }
  Server& server = *servers.emplace(key, std::make_unique<Server>()).first->second;
  lock.unlock();
  Server fetched;
  Load(url, &fetched);
  lock.lock();
  fetched.ready = true;
  server = std::move(fetched);
  loaded.notify_all();
  return server;
}

bool RobotsGate::Allows(const Url& url, FirstAsk* first) {
  const CStr target = url.RequestTarget();
  std::string_view path(target, target.Length());
  if (path == "/robots.txt") return true;
  Server& server = ServerOf(url);
  if (first != nullptr) {
    std::lock_guard<std::mutex> lock(mutex);
    if (!server.asked) {
      server.asked = true;
      if (server.unreachable) {
        std::string line = "robots.txt at " + ConnectionPool::KeyOf(url) + " gave " +
                           server.reason + ": nothing there is requested";
        first->notice = line.c_str();
      }
      first->exchanges = std::move(server.exchanges);
      first->truncated = server.truncated;
    }
  }
  return server.rules.Allowed(path);
}
