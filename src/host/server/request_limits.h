#pragma once
// What one request may make the agent hold, and what all of them may hold
// together (docs/security.md, "Requests and logs"). The HTTP library
// compiled into the system's shared library reads any number of header
// lines and any chunked body into memory, so the listener's connections
// count and cut them before the library sees more (tls_connection.h).

#include <cstddef>

namespace vorlink::request_limits {

// Header lines after the request line, and the bytes of the request line
// and header lines together. A browser sends about twenty lines and a few
// KiB; over either limit the answer is 431 and the connection ends.
inline constexpr std::size_t kMaxHeaderLines = 100;
inline constexpr std::size_t kMaxHeadBytes = 32 * 1024;

// A form body (application/x-www-form-urlencoded) keeps the HTTP library's
// own limit. Any other body may be up to 1 MiB: the page client posts
// forms, so its calls already stay under 8 KiB, files of any size go
// through the file members from disk, and 1 MiB leaves a page that posts
// plain text 128 times that room. Over the limit the answer is 413, before
// any of the body is read when its length is declared.
inline constexpr std::size_t kMaxFormBodyBytes = 8192;
inline constexpr std::size_t kMaxBodyBytes = 1024 * 1024;

// The bodies being received and handled at one moment, over all
// connections, may declare at most this much together (a chunked body
// counts as the most it may be); a request that would pass it is answered
// 503 at once. While it is handled, a body costs up to about six times its
// size (the body, the HTTP library's parsing copies, the fields), so this
// bounds the agent's memory for bodies near 100 MiB.
inline constexpr std::size_t kMaxBufferedBodyBytes = 16 * 1024 * 1024;

}  // namespace vorlink::request_limits
