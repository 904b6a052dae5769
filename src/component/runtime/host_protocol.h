#pragma once
// The messages between the agent and a component host process (a
// component running out of process), and their wire form. A frame is a
// 4-byte little-endian payload length and the payload; the payload is a
// kind byte and the message's fields, integers little-endian, text as a
// 4-byte length and its units (UTF-8 bytes or UTF-16 code units).

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "component/member_table.h"
#include "component/variant.h"

namespace vorlink::host_protocol {

// The largest payload either side accepts; a longer frame is malformed.
inline constexpr std::uint32_t kMaxPayloadBytes = 256u << 20;

// Agent to host, first and once: load `library` and create `clsid`.
struct CreateRequest {
  std::array<std::uint8_t, 16> clsid{};
  std::string library;  // UTF-8 path
};
// Host to agent: create_instance's status (0: the instance exists).
struct CreateReply {
  std::int32_t status = 0;
};
struct InvokeRequest {
  std::int32_t dispid = 0;
  CallKind kind = CallKind::kMethod;
  std::vector<Variant> args;
};
struct InvokeResult {
  Variant value;
};
struct InvokeFault {
  std::u16string description;
};

// Host to agent during an invoke: the component asked for a host service.
enum class HostService : std::uint8_t { kSelectFolder = 1, kSelectFiles, kBeginWait, kSetWaitMessage, kEndWait };
struct HostCall {
  HostService service = HostService::kSelectFolder;
  std::string text;  // UTF-8 title or message
};
// Agent to host: the answer (nullopt: cancelled, or a service without one).
struct HostReply {
  std::optional<std::string> text;
};

using Message = std::variant<CreateRequest, CreateReply, InvokeRequest, InvokeResult, InvokeFault, HostCall, HostReply>;

// The payload of a message (without its length prefix).
std::string EncodePayload(const Message& message);
// The whole frame: length prefix and payload.
std::string EncodeFrame(const Message& message);
// The message a payload holds; nullopt when it is malformed in any way
// (unknown kind or type, short field, trailing bytes).
std::optional<Message> DecodePayload(std::string_view payload);
// The payload length a frame header announces; nullopt above the limit.
std::optional<std::uint32_t> DecodeHeader(const unsigned char header[4]);

}  // namespace vorlink::host_protocol
