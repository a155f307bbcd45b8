// HttpResponse: builders of raw HTTP responses for ScriptedServer.
//
// Each returns the exact bytes to send. Lines end with eol (CR LF unless
// given), the header ends with an empty line, and the body follows as is.
#ifndef FERRET_TESTS_SUPPORT_HTTPRESPONSE_H_
#define FERRET_TESTS_SUPPORT_HTTPRESPONSE_H_

#include <cstddef>
#include <string>
#include <vector>

// statusLine, then each header line, then the empty line, then body.
std::string HttpResponse(const std::string& statusLine, const std::vector<std::string>& headers,
                         const std::string& body, const std::string& eol = "\r\n");

// 200 with "Content-Type: text/html".
std::string HtmlResponse(const std::string& body);

// The same over HTTP/1.1, framed by Content-Length: the connection is kept
// for the next request.
std::string KeptHtmlResponse(const std::string& body);

// 200 with the given content type (e.g. "image/gif").
std::string FileResponse(const std::string& body, const std::string& contentType);

// 302 with "Location: " location and no body.
std::string RedirectResponse(const std::string& location);

// 404 with a short HTML body.
std::string NotFoundResponse();

// size bytes that look random, the same for the same seed: a body in which a
// byte dropped, added or changed shows.
std::string PseudoRandomBytes(size_t size, unsigned seed);

#endif  // FERRET_TESTS_SUPPORT_HTTPRESPONSE_H_
