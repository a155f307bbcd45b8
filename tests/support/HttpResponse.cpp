#include "tests/support/HttpResponse.h"

std::string HttpResponse(const std::string& statusLine, const std::vector<std::string>& headers,
                         const std::string& body, const std::string& eol) {
  std::string response = statusLine + eol;
  for (const std::string& header : headers) response += header + eol;
  return response + eol + body;
}

std::string HtmlResponse(const std::string& body) {
  return HttpResponse("HTTP/1.0 200 OK", {"Content-Type: text/html"}, body);
}

std::string KeptHtmlResponse(const std::string& body) {
  return HttpResponse("HTTP/1.1 200 OK",
                      {"Content-Type: text/html", "Content-Length: " + std::to_string(body.size())},
                      body);
}

std::string FileResponse(const std::string& body, const std::string& contentType) {
  return HttpResponse("HTTP/1.0 200 OK", {"Content-Type: " + contentType}, body);
}

std::string RedirectResponse(const std::string& location) {
  return HttpResponse("HTTP/1.0 302 Found", {"Location: " + location}, "");
}

std::string NotFoundResponse() {
  return HttpResponse("HTTP/1.0 404 Not Found", {"Content-Type: text/html"},
                      "<html><body>Not found</body></html>\n");
}

std::string PseudoRandomBytes(size_t size, unsigned seed) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) {
    seed = seed * 1103515245u + 12345u;
    bytes[i] = static_cast<char>(seed >> 16);
  }
  return bytes;
}
