// The host protocol's wire form, and its framing over a socket pair: every
// message survives a round trip, and no malformed or truncated frame is
// taken for a message.

#include "component/runtime/host_protocol.h"

#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <limits>
#include <thread>

#include "component/runtime/frame_channel.h"

namespace vorlink {
namespace {
namespace hp = host_protocol;

bool operator==(const Variant& a, const Variant& b) {
  return a.type == b.type && a.integer == b.integer && a.text == b.text &&
         std::bit_cast<std::uint64_t>(a.real) == std::bit_cast<std::uint64_t>(b.real);
}

// Compares through the encoding: equal messages encode to equal bytes, and
// every field is checked by the field tests below.
std::string Bytes(const hp::Message& m) { return hp::EncodePayload(m); }

std::vector<hp::Message> Samples() {
  const std::u16string odd_text{u'a', u'\0', u'\xd83d', u'\xde00', u'\xffff'};
  return {
      hp::CreateRequest{{0x3f, 0x2a, 0, 0xff}, "/opt/lib/libp11 crypto.so"},
      hp::CreateReply{static_cast<std::int32_t>(0x80004005)},
      hp::InvokeRequest{
          7, CallKind::kMethod, {Variant::Bstr(odd_text), Variant::I4(-2147483647 - 1), Variant::UI4(4294967295u)}},
      hp::InvokeRequest{8, CallKind::kPropertyGet, {}},
      hp::InvokeResult{Variant::R8(-0.0)},
      hp::InvokeResult{Variant::R8(std::numeric_limits<double>::quiet_NaN())},
      hp::InvokeResult{Variant{VariantType::kBool, -1, 0, {}}},
      hp::InvokeResult{Variant{}},
      hp::InvokeResult{Variant::Bstr(std::u16string(70000, u'\x4e2d'))},
      hp::InvokeFault{u"scripted failure"},
      hp::HostCall{hp::HostService::kSelectFiles, "請選擇檔案"},
      hp::HostCall{hp::HostService::kEndWait, ""},
      hp::HostReply{std::nullopt},
      hp::HostReply{std::string("/home/u/a\n/home/u/b")},
  };
}

TEST(HostProtocol, EveryMessageSurvivesARoundTrip) {
  for (const hp::Message& m : Samples()) {
    const std::string payload = Bytes(m);
    const auto decoded = hp::DecodePayload(payload);
    ASSERT_TRUE(decoded) << "kind " << m.index();
    EXPECT_EQ(decoded->index(), m.index());
    EXPECT_EQ(Bytes(*decoded), payload) << "kind " << m.index();
  }
  const auto call = hp::DecodePayload(Bytes(Samples()[2]));
  const auto& request = std::get<hp::InvokeRequest>(*call);
  EXPECT_EQ(request.dispid, 7);
  ASSERT_EQ(request.args.size(), 3u);
  EXPECT_TRUE(request.args[0] == std::get<hp::InvokeRequest>(Samples()[2]).args[0]);
  EXPECT_EQ(request.args[1].integer, -2147483648LL);
  EXPECT_EQ(request.args[2].integer, 4294967295LL);
}

TEST(HostProtocol, EveryTruncationAndAnyTrailingByteIsMalformed) {
  for (const hp::Message& m : Samples()) {
    const std::string payload = Bytes(m);
    // Long texts: cut near both ends and in the middle rather than everywhere.
    for (std::size_t n = 0; n < payload.size(); n += n < 64 || n + 64 > payload.size() ? 1 : 4093) {
      EXPECT_FALSE(hp::DecodePayload(std::string_view(payload).substr(0, n))) << "kind " << m.index() << " cut " << n;
    }
    EXPECT_FALSE(hp::DecodePayload(payload + '\0')) << "kind " << m.index();
  }
}

TEST(HostProtocol, UnknownKindsTypesAndLyingLengthsAreMalformed) {
  const std::string invoke = Bytes(hp::InvokeRequest{1, CallKind::kMethod, {Variant::I4(1)}});
  auto with = [](std::string bytes, std::size_t at, char value) {
    bytes[at] = value;
    return bytes;
  };
  const std::pair<const char*, std::string> cases[] = {
      {"empty", ""},
      {"kind 0", with(invoke, 0, 0)},
      {"kind 8", with(invoke, 0, 8)},
      {"call kind 3", with(invoke, 5, 3)},
      {"argument count above what follows", with(invoke, 6, 2)},
      {"argument count 2^32-1", invoke.substr(0, 6) + "\xff\xff\xff\xff"},
      {"variant type 9", with(invoke, 10, 9)},
      {"text length 2^32-1", Bytes(hp::InvokeFault{u"x"}).substr(0, 1) + "\xff\xff\xff\xff" + "x"},
      {"host service 6", with(Bytes(hp::HostCall{hp::HostService::kEndWait, ""}), 1, 6)},
      {"reply flag 2", with(Bytes(hp::HostReply{std::nullopt}), 1, 2)},
  };
  for (const auto& [what, bytes] : cases) EXPECT_FALSE(hp::DecodePayload(bytes)) << what;
}

TEST(HostProtocol, HeadersAboveTheLimitOrEmptyAreRefused) {
  const unsigned char zero[4] = {0, 0, 0, 0}, one[4] = {1, 0, 0, 0}, huge[4] = {0xff, 0xff, 0xff, 0xff};
  const unsigned char limit[4] = {0, 0, 0, 0x10}, over[4] = {1, 0, 0, 0x10};
  EXPECT_FALSE(hp::DecodeHeader(zero));
  EXPECT_EQ(hp::DecodeHeader(one), 1u);
  EXPECT_EQ(hp::DecodeHeader(limit), hp::kMaxPayloadBytes);
  EXPECT_FALSE(hp::DecodeHeader(over));
  EXPECT_FALSE(hp::DecodeHeader(huge));
}

class SocketPair : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds_), 0); }
  void TearDown() override {
    for (int fd : fds_) {
      if (fd >= 0) ::close(fd);
    }
  }
  void CloseWriter() { ::close(std::exchange(fds_[0], -1)); }
  void Write(std::string_view bytes) { ASSERT_EQ(::write(fds_[0], bytes.data(), bytes.size()), ssize_t(bytes.size())); }
  int fds_[2] = {-1, -1};
};

TEST_F(SocketPair, FramesArriveWholeWhateverTheirSize) {
  FrameChannel writer(fds_[0]), reader(fds_[1]);
  // Larger than the socket buffer: the writer must run beside the reader.
  const hp::Message big = hp::InvokeResult{Variant::Bstr(std::u16string(3 << 20, u'x'))};
  std::thread send([&] { EXPECT_EQ(writer.Send(big), FrameChannel::SendResult::kSent); });
  const auto got = reader.Receive();
  send.join();
  ASSERT_TRUE(got);
  EXPECT_EQ(Bytes(*got), Bytes(big));
}

TEST_F(SocketPair, ATruncatedOrMalformedFrameEndsTheStreamWithoutAMessage) {
  const std::string frame = hp::EncodeFrame(hp::InvokeFault{u"description"});
  const std::pair<const char*, std::string> cases[] = {
      {"half a header", frame.substr(0, 2)},
      {"header only", frame.substr(0, 4)},
      {"payload cut short", frame.substr(0, frame.size() - 1)},
      {"header promising more than the limit", std::string("\x01\x00\x00\x10", 4) + "xx"},
      {"well framed nonsense", std::string("\x03\x00\x00\x00\x09zz", 7)},
  };
  for (const auto& [what, bytes] : cases) {
    TearDown();
    SetUp();
    Write(bytes);
    CloseWriter();
    EXPECT_FALSE(FrameChannel(fds_[1]).Receive()) << what;
  }
}

TEST_F(SocketPair, SendingToAClosedPeerFailsWithoutSigpipe) {
  ::close(std::exchange(fds_[1], -1));
  // Without MSG_NOSIGNAL this would end the test program.
  EXPECT_EQ(FrameChannel(fds_[0]).Send(hp::CreateReply{0}), FrameChannel::SendResult::kPeerGone);
}

TEST_F(SocketPair, AReceiveGivesUpWhenTheWaitIsCalledOff) {
  int asked = 0;
  EXPECT_FALSE(FrameChannel(fds_[1]).Receive([&] { return std::chrono::milliseconds(++asked < 2 ? 10 : 0); }));
  EXPECT_EQ(asked, 2);
}

}  // namespace
}  // namespace vorlink
