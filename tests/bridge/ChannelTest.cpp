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

TEST(FrameChannel, FramesArriveWholeAndInOrder) {
  Pair p;
  ASSERT_TRUE(p.left->send(kCall, "first"));
  ASSERT_TRUE(p.left->send(kHello, ""));
  ASSERT_TRUE(p.left->send(kGetField, std::string("\0x\0", 3)));
  Frame f;
  ASSERT_EQ(p.right->receive(f), FrameChannel::Status::Ok);
  EXPECT_EQ(f.kind, kCall);
  EXPECT_EQ(f.payload, "first");
  ASSERT_EQ(p.right->receive(f), FrameChannel::Status::Ok);
  EXPECT_EQ(f.kind, kHello);
  EXPECT_EQ(f.payload, "");
  ASSERT_EQ(p.right->tryReceive(f), FrameChannel::Status::Ok);
  EXPECT_EQ(f.payload, std::string("\0x\0", 3));
  EXPECT_EQ(p.right->tryReceive(f), FrameChannel::Status::WouldBlock);
}

TEST(FrameChannel, LargeFramesCrossTheSocketBufferInPieces) {
  Pair p;
  std::string big(3 * 1024 * 1024, 'z');
  big[12345] = 'a';
  std::thread writer([&] { EXPECT_TRUE(p.left->send(kReply, big)); });
  Frame f;
  ASSERT_EQ(p.right->receive(f, 50), FrameChannel::Status::Ok);
  writer.join();
  EXPECT_EQ(f.payload, big);
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

TEST(Reply, RoundTripsActionsErrorsAndValues) {
  Reply r;
  r.actions.push_back({PageAction::kEvaluate, 0, "done({\"success\":true});"});
  r.actions.push_back({PageAction::kCallFunction, 42, "[1,\"two\"]"});
  r.hasValue = true;
  r.valueJson = "\"txt\"";
  r.retained = {42, 7};
  Reply back;
  ASSERT_TRUE(decodeReply(encodeReply(r), back));
  ASSERT_EQ(back.actions.size(), 2u);
  EXPECT_EQ(back.actions[0].text, r.actions[0].text);
  EXPECT_EQ(back.actions[1].type, PageAction::kCallFunction);
  EXPECT_EQ(back.actions[1].handle, 42u);
  EXPECT_TRUE(back.hasValue);
  EXPECT_EQ(back.valueJson, "\"txt\"");
  EXPECT_EQ(back.retained, (std::vector<uint64_t>{42, 7}));

  Reply nothing;
  nothing.error = "boom";
  ASSERT_TRUE(decodeReply(encodeReply(nothing), back));
  EXPECT_TRUE(back.actions.empty());
  EXPECT_FALSE(back.hasValue);
  EXPECT_EQ(back.error, "boom");
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
