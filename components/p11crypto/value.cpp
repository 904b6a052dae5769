#include "p11crypto/value.h"

#include <openssl/crypto.h>

#include <cstdlib>

namespace p11crypto {

Args::~Args() {
  for (Value& value : values_) {
    if (!value.text.empty()) OPENSSL_cleanse(value.text.data(), value.text.size());
  }
}

const std::string& Args::Text(size_t i) const {
  static const std::string empty;
  return i < values_.size() && values_[i].kind == Value::Kind::kText ? values_[i].text : empty;
}

std::int32_t Args::Int(size_t i) const {
  if (i >= values_.size()) return 0;
  const Value& v = values_[i];
  if (v.kind == Value::Kind::kText) return static_cast<std::int32_t>(std::strtol(v.text.c_str(), nullptr, 10));
  if (v.kind == Value::Kind::kReal) return static_cast<std::int32_t>(v.real);
  return static_cast<std::int32_t>(v.integer);
}

}  // namespace p11crypto
