#include "net/DecodedBody.h"

#include <algorithm>

DecodedBody::DecodedBody(BodyStream& body, ContentCoding coding) : body(body), decoder(coding) {}

unsigned long long DecodedBody::Delivered() const {
  return handed + static_cast<unsigned long long>(gptr() - eback());
}

std::string_view DecodedBody::Next() {
  if (gptr() == egptr() && traits_type::eq_int_type(underflow(), traits_type::eof())) return {};
  return std::string_view(gptr(), static_cast<size_t>(egptr() - gptr()));
}

DecodedBody::int_type DecodedBody::underflow() {
  if (gptr() < egptr()) return traits_type::to_int_type(*gptr());
  handed += static_cast<unsigned long long>(egptr() - eback());
  decoded.clear();
  setg(nullptr, nullptr, nullptr);
  const ContentDecoder::Emit keep = [this](const char* data, size_t n) {
    decoded.append(data, n);
    return true;
  };
  while (decoded.empty() && !over) {
    std::string_view encoded = body.Next();
    if (encoded.empty()) {
      // Only a body that reached its framing's end can be judged whole.
      if (body.Ended()) decoder.Finish();
      over = true;
      break;
    }
    size_t n = std::min(encoded.size(), kFeedSize);
    bool fine = decoder.Feed(encoded.data(), n, keep);
    body.Consume(n);
    if (!fine) over = true;
  }
  if (decoded.empty()) return traits_type::eof();
  char* begin = &decoded[0];
  setg(begin, begin, begin + decoded.size());
  return traits_type::to_int_type(*gptr());
}
