#include "p11crypto/wait_window.h"

#include <cstddef>

namespace p11crypto {

WaitWindow::WaitWindow(const vorlink_host_services* host, const std::string& message) : host_(host) {
  if (P11CRYPTO_HOST_HAS(host_, begin_wait)) host_->begin_wait(host_->context, message.c_str());
}

WaitWindow::~WaitWindow() {
  if (P11CRYPTO_HOST_HAS(host_, end_wait)) host_->end_wait(host_->context);
}

void WaitWindow::SetMessage(const std::string& message) {
  if (P11CRYPTO_HOST_HAS(host_, set_wait_message)) host_->set_wait_message(host_->context, message.c_str());
}

}  // namespace p11crypto
