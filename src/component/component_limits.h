#pragma once
// What one page, and all pages together, may make the agent hold in
// components: live components per page origin and in total, and how long a
// forwarded call may go without an answer. The host hands these down;
// tests set small ones.

#include <chrono>
#include <cstddef>

namespace vorlink {

struct ComponentLimits {
  // Live components (each one host process) of one page origin. A page
  // needs one; 16 leaves room for several tabs and frames of one site.
  std::size_t per_origin = 16;
  // Live components of all origins: 128 host processes of about 3 MiB of
  // their own each stay far from exhausting a desktop's memory, threads
  // and descriptors.
  std::size_t total = 128;
  // How long a forwarded call may go without answering or asking the
  // agent for anything: enough for a PIN-pad reader waiting for the
  // cardholder, far less than a hung module would hold a worker.
  std::chrono::milliseconds call_deadline{120000};
};

}  // namespace vorlink
