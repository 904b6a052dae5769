#pragma once
// Serves one accepted connection in place of the HTTP library's own loop,
// which reads unbounded headers and chunked bodies into memory and waits
// for a body that has no length: the TLS handshake, then requests on a
// TlsStream (tls_stream.h) until the client closes, goes quiet for the
// keep-alive time-out, reaches the request limit, or the server stops.
// Each request's body is planned from its headers before it is read
// (body_plan.h) and counted against the listener's BodyBudget; a refused
// request gets its status (400, 413, 431, 503) and the connection ends.

#include <httplib.h>
#include <openssl/ssl.h>

#include <chrono>
#include <cstddef>
#include <functional>

#include "host/server/body_budget.h"
#include "host/server/tls_stream.h"

namespace vorlink {

struct ConnectionSettings {
  TlsStream::Timeouts timeouts;
  std::chrono::seconds keep_alive;
  std::size_t max_requests;
};

// The library's handling of one request on `stream` (Server::process_request):
// false when the connection cannot go on; `closed` when the client asked
// to close it. `setup` runs once the headers are read, before the body.
using RequestProcessor = std::function<bool(httplib::Stream& stream, bool last, bool& closed,
                                            const std::function<void(httplib::Request&)>& setup)>;

// Serves the connection on `fd` and closes it. A readable `stop_fd` ends
// the wait between requests at once.
void ServeTlsConnection(int fd, SSL_CTX* context, const ConnectionSettings& settings, BodyBudget& budget,
                        const RequestProcessor& process, int stop_fd);

}  // namespace vorlink
