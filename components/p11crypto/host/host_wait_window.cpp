#include "p11crypto/host/host_wait_window.h"

#include <cstddef>

namespace p11crypto {

HostWaitWindow::HostWaitWindow(const vorlink_host_services* host, const std::string& message) : host_(host) {
  if (P11CRYPTO_HOST_HAS(host_, begin_wait)) host_->begin_wait(host_->context, message.c_str());
}

HostWaitWindow::~HostWaitWindow() {
  if (P11CRYPTO_HOST_HAS(host_, end_wait)) host_->end_wait(host_->context);
}

void HostWaitWindow::SetMessage(const std::string& message) {
  if (P11CRYPTO_HOST_HAS(host_, set_wait_message)) host_->set_wait_message(host_->context, message.c_str());
}

}  // namespace p11crypto
