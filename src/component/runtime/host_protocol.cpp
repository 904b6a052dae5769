#include "component/runtime/host_protocol.h"

#include <bit>
#include <cstring>
#include <type_traits>

namespace vorlink::host_protocol {
namespace {

// The kind byte is the message's index in Message, plus one.
template <typename T, std::size_t I = 0>
constexpr std::uint8_t KindOf() {
  if constexpr (std::is_same_v<T, std::variant_alternative_t<I, Message>>) {
    return static_cast<std::uint8_t>(I + 1);
  } else {
    return KindOf<T, I + 1>();
  }
}

class Writer {
 public:
  void U8(std::uint8_t v) { out_.push_back(static_cast<char>(v)); }
  void U16(std::uint16_t v) { Le(v, 2); }
  void U32(std::uint32_t v) { Le(v, 4); }
  void U64(std::uint64_t v) { Le(v, 8); }
  void Utf8(std::string_view text) {
    U32(static_cast<std::uint32_t>(text.size()));
    out_.append(text);
  }
  void Utf16(std::u16string_view text) {
    U32(static_cast<std::uint32_t>(text.size()));
    if constexpr (std::endian::native == std::endian::little) {
      out_.append(reinterpret_cast<const char*>(text.data()), 2 * text.size());
    } else {
      for (char16_t unit : text) U16(unit);
    }
  }
  void Value(const Variant& v) {
    U16(static_cast<std::uint16_t>(v.type));
    if (v.type == VariantType::kR8) U64(std::bit_cast<std::uint64_t>(v.real));
    if (v.type == VariantType::kBstr) Utf16(v.text);
    if (v.type == VariantType::kI4 || v.type == VariantType::kUI4 || v.type == VariantType::kBool) {
      U64(static_cast<std::uint64_t>(v.integer));
    }
  }
  std::string Take() { return std::move(out_); }

 private:
  void Le(std::uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) out_.push_back(static_cast<char>((v >> (8 * i)) & 0xff));
  }
  std::string out_;
};

// Reads fields in order; once a read runs past the end every later read
// fails too, so a decoder checks ok() once at the end.
class Reader {
 public:
  explicit Reader(std::string_view in) : in_(in) {}
  std::uint8_t U8() { return static_cast<std::uint8_t>(Le(1)); }
  std::uint16_t U16() { return static_cast<std::uint16_t>(Le(2)); }
  std::uint32_t U32() { return static_cast<std::uint32_t>(Le(4)); }
  std::uint64_t U64() { return Le(8); }
  std::string Utf8() {
    const std::uint32_t n = U32();
    if (!Has(n)) return {};
    std::string text(in_.substr(pos_, n));
    pos_ += n;
    return text;
  }
  std::u16string Utf16() {
    const std::uint32_t n = U32();
    if (!Has(2ull * n)) return {};
    std::u16string text(n, u'\0');
    if constexpr (std::endian::native == std::endian::little) {
      std::memcpy(text.data(), in_.data() + pos_, 2ull * n);
      pos_ += 2ull * n;
    } else {
      for (char16_t& unit : text) unit = U16();
    }
    return text;
  }
  std::optional<Variant> Value() {
    Variant v;
    v.type = static_cast<VariantType>(U16());
    switch (v.type) {
      case VariantType::kEmpty: break;
      case VariantType::kR8: v.real = std::bit_cast<double>(U64()); break;
      case VariantType::kBstr: v.text = Utf16(); break;
      case VariantType::kI4:
      case VariantType::kUI4:
      case VariantType::kBool: v.integer = static_cast<std::int64_t>(U64()); break;
      default: failed_ = true;
    }
    return failed_ ? std::nullopt : std::optional(v);
  }
  // Whether `n` more bytes are there; marks the reader failed if not.
  bool Has(std::uint64_t n) {
    if (failed_ || n > in_.size() - pos_) failed_ = true;
    return !failed_;
  }
  // Everything was read, nothing ran short, nothing is left over.
  bool Done() const { return !failed_ && pos_ == in_.size(); }
  void Fail() { failed_ = true; }

 private:
  std::uint64_t Le(int bytes) {
    if (!Has(bytes)) return 0;
    std::uint64_t v = 0;
    for (int i = 0; i < bytes; ++i) v |= std::uint64_t{static_cast<unsigned char>(in_[pos_ + i])} << (8 * i);
    pos_ += bytes;
    return v;
  }
  std::string_view in_;
  std::size_t pos_ = 0;
  bool failed_ = false;
};

void Write(Writer& w, const CreateRequest& m) {
  for (std::uint8_t b : m.clsid) w.U8(b);
  w.Utf8(m.library);
}
void Write(Writer& w, const CreateReply& m) { w.U32(static_cast<std::uint32_t>(m.status)); }
void Write(Writer& w, const InvokeRequest& m) {
  w.U32(static_cast<std::uint32_t>(m.dispid));
  w.U8(m.kind == CallKind::kMethod ? 1 : 2);
  w.U32(static_cast<std::uint32_t>(m.args.size()));
  for (const Variant& arg : m.args) w.Value(arg);
}
void Write(Writer& w, const InvokeResult& m) { w.Value(m.value); }
void Write(Writer& w, const InvokeFault& m) { w.Utf16(m.description); }
void Write(Writer& w, const HostCall& m) {
  w.U8(static_cast<std::uint8_t>(m.service));
  w.Utf8(m.text);
}
void Write(Writer& w, const HostReply& m) {
  w.U8(m.text ? 1 : 0);
  if (m.text) w.Utf8(*m.text);
}

std::optional<Message> Read(Reader& r, std::uint8_t kind) {
  if (kind == KindOf<CreateRequest>()) {
    CreateRequest m;
    for (std::uint8_t& b : m.clsid) b = r.U8();
    m.library = r.Utf8();
    return m;
  }
  if (kind == KindOf<CreateReply>()) return CreateReply{static_cast<std::int32_t>(r.U32())};
  if (kind == KindOf<InvokeRequest>()) {
    InvokeRequest m;
    m.dispid = static_cast<std::int32_t>(r.U32());
    const std::uint8_t call = r.U8();
    if (call != 1 && call != 2) r.Fail();
    m.kind = call == 1 ? CallKind::kMethod : CallKind::kPropertyGet;
    const std::uint32_t count = r.U32();
    for (std::uint32_t i = 0; i < count && r.Has(2); ++i) {
      auto arg = r.Value();
      if (!arg) return std::nullopt;
      m.args.push_back(std::move(*arg));
    }
    return m;
  }
  if (kind == KindOf<InvokeResult>()) {
    auto value = r.Value();
    return value ? std::optional<Message>(InvokeResult{std::move(*value)}) : std::nullopt;
  }
  if (kind == KindOf<InvokeFault>()) return InvokeFault{r.Utf16()};
  if (kind == KindOf<HostCall>()) {
    const std::uint8_t service = r.U8();
    if (service < 1 || service > static_cast<std::uint8_t>(HostService::kEndWait)) r.Fail();
    return HostCall{static_cast<HostService>(service), r.Utf8()};
  }
  if (kind == KindOf<HostReply>()) {
    const std::uint8_t has_text = r.U8();
    if (has_text > 1) r.Fail();
    return HostReply{has_text ? std::optional(r.Utf8()) : std::nullopt};
  }
  return std::nullopt;
}

}  // namespace

namespace {

// The message after whatever `w` holds already.
std::string Encode(Writer w, const Message& message) {
  w.U8(static_cast<std::uint8_t>(message.index() + 1));
  std::visit([&w](const auto& m) { Write(w, m); }, message);
  return w.Take();
}

}  // namespace

std::string EncodePayload(const Message& message) { return Encode(Writer(), message); }

std::string EncodeFrame(const Message& message) {
  Writer header;
  header.U32(0);
  std::string frame = Encode(std::move(header), message);
  const std::size_t n = frame.size() - 4;
  for (int i = 0; i < 4; ++i) frame[i] = static_cast<char>((n >> (8 * i)) & 0xff);
  return frame;
}

std::optional<Message> DecodePayload(std::string_view payload) {
  Reader r(payload);
  const std::uint8_t kind = r.U8();
  auto message = Read(r, kind);
  if (!message || !r.Done()) return std::nullopt;
  return message;
}

std::optional<std::uint32_t> DecodeHeader(const unsigned char header[4]) {
  const std::uint32_t n = header[0] | header[1] << 8 | header[2] << 16 | std::uint32_t{header[3]} << 24;
  if (n == 0 || n > kMaxPayloadBytes) return std::nullopt;
  return n;
}

}  // namespace vorlink::host_protocol
