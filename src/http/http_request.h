#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "http/http_headers.h"

namespace morva {

// A misbehaving server must neither fill the address space (an endless or huge answer) nor hold a
// thread (an answer that trickles in below any stall detector). Every kind of request names its
// own size limit, a margin above its largest real answer: books 32 MiB, token responses and the
// metadata document 1 MiB, update files 64 MiB. The time limit is the same two minutes for all.
inline constexpr std::uint64_t kDefaultMaxResponseBytes = 16 * 1024 * 1024;
inline constexpr std::chrono::seconds kDefaultTimeLimit{120};

struct HttpRequest {
    std::u16string host;  // host name only: no scheme, port or path
    std::uint16_t port = 443;
    std::u16string path;  // the request target as it goes on the request line, query included
    HttpHeaders headers;  // sent in the map's order
    std::string body;     // sent byte for byte; empty for none
    // A longer response body fails the call, whether its length was announced or not.
    std::uint64_t maxResponseBytes = kDefaultMaxResponseBytes;
    // Connecting, sending and every read together; a call still running then fails. At least 1 s.
    std::chrono::seconds timeLimit = kDefaultTimeLimit;
};

// Refuses, before anything is sent, what must never reach the wire: a line break in the host, the
// path or a header would let a text from the terminal or the network add lines of its own to the
// request. Throws MorvaError "Invalid host name" or "Invalid request path" (a control character
// or a blank), "Invalid header name: NAME" (not an HTTP token; NAME shows anything but printable
// ASCII as '?') or "Invalid header value for NAME" (a control character other than a tab).
void CheckRequest(const HttpRequest& request);

// The transports' texts for the two limits, the same on every platform:
// "Read HTTP response body failed. Response too large: more than N bytes" and
// "<operation> timed out after N s".
[[noreturn]] void ThrowResponseTooLarge(std::uint64_t maxResponseBytes);
[[noreturn]] void ThrowTimedOut(const char* operation, std::chrono::seconds timeLimit);

// The request's time limit, raised to a second where it is less.
std::chrono::seconds EffectiveTimeLimit(const HttpRequest& request) noexcept;

}  // namespace morva
