// The framed channel and the reply layout that both processes share.
#include "bridge/FrameChannel.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

#include <thread>

using namespace corvane::bridge;

namespace {

struct Pair {
  Pair() {
    auto [a, b] = FrameChannel::socketPair();
    left = std::make_unique<FrameChannel>(a);
    right = std::make_unique<FrameChannel>(b);
  }
  std::unique_ptr<FrameChannel> left, right;
};

TEST(FrameChannel, MixedSizesArriveWholeIntoOneReusedFrame) {
  // Large frames are read straight into the frame and small ones through
  // the buffer; one Frame object serves them all, as the two ends use it.
  Pair p;
  std::vector<std::string> sent;
  for (size_t size : {10u, 70000u, 3u, 1048576u, 65536u - 8u, 65536u, 0u, 2000000u, 5u}) {
    std::string s(size, 'x');
    for (size_t i = 0; i < size; i += 997) s[i] = static_cast<char>('a' + i % 26);
    sent.push_back(std::move(s));
  }
  sent[2] = std::string("\0x\0", 3);
  const uint32_t kinds[] = {kCall, kHello, kGetField};
  std::thread writer([&] {
    for (size_t i = 0; i < sent.size(); ++i) EXPECT_TRUE(p.left->send(kinds[i % 3], sent[i]));
  });
  Frame f;
  for (size_t i = 0; i < sent.size(); ++i) {
    ASSERT_EQ(p.right->receive(f, 50), FrameChannel::Status::Ok);
    EXPECT_EQ(f.kind, kinds[i % 3]);
    EXPECT_EQ(f.payload, sent[i]) << sent[i].size();
  }
  writer.join();
  EXPECT_EQ(p.right->tryReceive(f), FrameChannel::Status::WouldBlock);
}

TEST(FrameChannel, OversizedFramesAreRefused) {
  Pair p;
  FrameHeader huge{static_cast<uint32_t>(FrameChannel::kMaxPayload + 1), kCall};
  ASSERT_EQ(::send(p.left->fd(), &huge, sizeof huge, 0), static_cast<ssize_t>(sizeof huge));
  Frame f;
  EXPECT_EQ(p.right->tryReceive(f), FrameChannel::Status::Closed);
}

TEST(FrameChannel, ClosedPeerAndTornFramesReportClosed) {
  Pair p;
  FrameHeader torn{100, kCall};
  ASSERT_EQ(::send(p.left->fd(), &torn, sizeof torn, 0), static_cast<ssize_t>(sizeof torn));
  p.left.reset();
  Frame f;
  EXPECT_EQ(p.right->receive(f), FrameChannel::Status::Closed);
  EXPECT_FALSE(p.right->send(kReply, "nobody listens"));
}

TEST(Arguments, TextsAndJsonValuesRoundTrip) {
  PayloadWriter w;
  const std::string nul("a\0b", 3);
  writeArgument(w, kTextArgument, nul);
  writeArgument(w, kJsonArgument, R"({"k":[1,"\u0000"]})");
  writeArgument(w, kTextArgument, "");
  writeArgument(w, kJsonArgument, "not json");
  const size_t start = [&] {
    w.u8(kTextArgument);
    return w.begin();
  }();
  w.data() += "written in place";
  w.end(start);
  std::vector<nlohmann::json> args;
  ASSERT_TRUE(decodeArguments(w.data(), args));
  // JSON that does not parse reads as null.
  EXPECT_EQ(nlohmann::json(args), nlohmann::json::array({nul, {{"k", {1, std::string(1, '\0')}}}, "", nullptr,
                                                          "written in place"}));
  EXPECT_TRUE(decodeArguments("", args));
  EXPECT_TRUE(args.empty());
}

TEST(Arguments, MalformedListsAreRejected) {
  PayloadWriter w;
  writeArgument(w, kTextArgument, "abcdef");
  std::vector<nlohmann::json> args;
  const std::string bytes = w.data();
  for (size_t cut = 1; cut < bytes.size(); ++cut)
    EXPECT_FALSE(decodeArguments(std::string_view(bytes).substr(0, cut), args)) << cut;
  std::string forged = bytes;
  forged[0] = 'x';  // no such kind
  EXPECT_FALSE(decodeArguments(forged, args));
}

TEST(Reply, TruncatedOrForgedPayloadsAreRejected) {
  Reply r;
  r.actions.push_back({PageAction::kEvaluate, 0, "x();"});
  std::string bytes = encodeReply(r);
  Reply back;
  for (size_t cut = 0; cut < bytes.size() - 1; ++cut)
    EXPECT_FALSE(decodeReply(std::string_view(bytes).substr(0, cut), back)) << cut;
  std::string forged = bytes;
  forged[4] = 7;  // an action type that does not exist
  EXPECT_FALSE(decodeReply(forged, back));
  PayloadWriter w;
  w.u32(0xFFFFFFFFu);  // more actions than bytes
  EXPECT_FALSE(decodeReply(w.data(), back));
}

}  // namespace
