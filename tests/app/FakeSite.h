// FakeSite: a site held in memory and served through a Connector double, so
// that the crawler's units run in process without sockets.
//
// Each connection is answered, whatever was asked on it, with the raw
// response registered for the path of the URL it was made for (a 404 when
// none is), and the path is logged: the log is the crawl's requests, in order.
#ifndef FERRET_TESTS_APP_FAKESITE_H_
#define FERRET_TESTS_APP_FAKESITE_H_

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "net/Connector.h"
#include "tests/support/HttpResponse.h"
#include "tests/support/ScriptedTransport.h"

class FakeSite {
 public:
  FakeSite& Page(const std::string& path, const std::string& html) {
    responses[path] = HtmlResponse(html);
    return *this;
  }
  FakeSite& Raw(const std::string& path, const std::string& response) {
    responses[path] = response;
    return *this;
  }

  Connector Connect() {
    return [this](SocketStreamBuf& connection, const Url& url, Failure*) {
      std::string path = std::string(url.RequestTarget());
      requests.push_back(path);
      auto found = responses.find(path);
      auto transport = std::make_unique<ScriptedTransport>(std::make_shared<TransportLog>());
      transport->Deliver(found != responses.end() ? found->second : NotFoundResponse());
      connection.UseTransport(std::move(transport));
      return true;
    };
  }

  std::vector<std::string> requests;  // the path of every connection, in order

 private:
  std::map<std::string, std::string> responses;
};

#endif  // FERRET_TESTS_APP_FAKESITE_H_
