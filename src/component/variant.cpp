#include "component/variant.h"

#include <cmath>
#include <limits>

#include "text/text_codec.h"

namespace vorlink {
namespace {

[[noreturn]] void CannotConvert() { throw ComponentFault{u"type mismatch"}; }

// A numeric value of any numeric type, or of text that is a number.
double AsNumber(const Variant& v) {
  switch (v.type) {
    case VariantType::kI4:
    case VariantType::kUI4:
    case VariantType::kBool: return static_cast<double>(v.integer);
    case VariantType::kR8: return v.real;
    case VariantType::kEmpty: return 0;
    case VariantType::kBstr: {
      const std::string text = EncodeUtf8(v.text);
      char* end = nullptr;
      const double d = std::strtod(text.c_str(), &end);
      if (text.empty() || end == nullptr || *end != '\0') CannotConvert();
      return d;
    }
  }
  CannotConvert();
}

std::int64_t Rounded(double d, double low, double high) {
  if (std::isnan(d)) CannotConvert();
  const double r = std::nearbyint(d);  // round half to even
  if (r < low || r > high) CannotConvert();
  return static_cast<std::int64_t>(r);
}

std::u16string AsText(const Variant& v) {
  switch (v.type) {
    case VariantType::kBstr: return v.text;
    case VariantType::kEmpty: return u"";
    case VariantType::kR8: {
      char buf[64];
      std::snprintf(buf, sizeof buf, "%.15g", v.real);
      return DecodeUtf8(buf);
    }
    case VariantType::kBool: return v.integer ? u"True" : u"False";
    default: return DecodeUtf8(std::to_string(v.integer));
  }
}

}  // namespace

Variant ConvertVariant(const Variant& value, VariantType to) {
  if (value.type == to) return value;
  switch (to) {
    case VariantType::kI4:
      return Variant::I4(static_cast<std::int32_t>(Rounded(AsNumber(value), INT32_MIN, INT32_MAX)));
    case VariantType::kUI4: return Variant::UI4(static_cast<std::uint32_t>(Rounded(AsNumber(value), 0, UINT32_MAX)));
    case VariantType::kR8: return Variant::R8(AsNumber(value));
    case VariantType::kBstr: return Variant::Bstr(AsText(value));
    default: CannotConvert();
  }
}

}  // namespace vorlink
