#pragma once
// The values that cross the component boundary, typed with the automation
// type numbers components use.

#include <cstdint>
#include <string>

namespace vorlink {

enum class VariantType : std::uint16_t { kEmpty = 0, kI4 = 3, kR8 = 5, kBstr = 8, kBool = 11, kUI4 = 19 };

struct Variant {
  VariantType type = VariantType::kEmpty;
  std::int64_t integer = 0;  // kI4, kUI4, kBool
  double real = 0;           // kR8
  std::u16string text;       // kBstr

  static Variant I4(std::int32_t v) { return {VariantType::kI4, v, 0, {}}; }
  static Variant UI4(std::uint32_t v) { return {VariantType::kUI4, v, 0, {}}; }
  static Variant R8(double v) { return {VariantType::kR8, 0, v, {}}; }
  static Variant Bstr(std::u16string v) { return {VariantType::kBstr, 0, 0, std::move(v)}; }
};

// A component call that failed, or a result that cannot take the type the
// member promises. It is deliberately not a std::exception: the request
// then ends with the server's generic failure ("UNKNOWN").
struct ComponentFault {
  std::u16string description;
};

// Converts a result to the type a member promises; throws ComponentFault
// when it cannot.
Variant ConvertVariant(const Variant& value, VariantType to);

}  // namespace vorlink
