// RequestPage: one HTTP/1.0 GET, its response header, and its redirects.
//
// Given a URL and an unconnected SocketStreamBuf, RequestPage connects to the
// URL's host, sends "GET <path> HTTP/1.0" and an empty line (bare LFs, no
// header fields), reads the response header into LineBuffer up to the first
// empty line, follows a "Location:" header line, and hands back a stream
// positioned at the first byte of the body.
//
// Ownership: the stream is made on the heap and belongs to the caller once
// handed over (result 0 or 1); destroying it leaves the connection alone.
// After -1 no stream is handed over (stream is null).
#ifndef FERRET_NET_HTTPREQUEST_H_
#define FERRET_NET_HTTPREQUEST_H_

#include <iostream>

#include "net/SocketStreamBuf.h"
#include "text/CStr.h"

// Redirects followed in a row before a request gives up.
constexpr int kMaxRedirects = 20;

// -1: refused by host confinement (silent), the connection failed, or too
// many redirects (both reported, errors + 1). 0: a header was read and did not
// declare text/html. 1: it did. url becomes the URL that answered.
int RequestPage(CStr& url, SocketStreamBuf& connection, std::iostream*& stream);

#endif  // FERRET_NET_HTTPREQUEST_H_
