#pragma once
// The values that cross the component's boundary, in the component's own
// terms: text is UTF-8 inside the component and UTF-16 only at the ABI.

#include <cstdint>
#include <string>
#include <vector>

namespace p11crypto {

struct Value {
  enum class Kind { kInt, kUnsigned, kReal, kText };
  Kind kind = Kind::kText;
  std::int64_t integer = 0;
  double real = 0;
  std::string text;  // UTF-8

  static Value Int(std::int32_t v) { return {Kind::kInt, v, 0, {}}; }
  static Value Unsigned(std::uint32_t v) { return {Kind::kUnsigned, v, 0, {}}; }
  static Value Real(double v) { return {Kind::kReal, 0, v, {}}; }
  static Value Text(std::string v) { return {Kind::kText, 0, 0, std::move(v)}; }
};

// A call's positional arguments (Param1 first). Missing arguments read as
// empty text or 0, so a page that sends fewer parameters gets a clear
// error from the member rather than a crash.
class Args {
 public:
  explicit Args(std::vector<Value> values) : values_(std::move(values)) {}
  ~Args();  // wipes every text: arguments may be PINs
  Args(const Args&) = delete;
  Args& operator=(const Args&) = delete;
  const std::string& Text(size_t i) const;
  std::int32_t Int(size_t i) const;

 private:
  std::vector<Value> values_;
};

}  // namespace p11crypto
