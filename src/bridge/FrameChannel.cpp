#include "bridge/FrameChannel.h"

#include <poll.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace corvane::bridge {

namespace {
constexpr size_t kReadChunk = 64 * 1024;
}

FrameChannel::FrameChannel(int fd) : fd_(fd), in_(kReadChunk) {}

FrameChannel::~FrameChannel() {
  if (fd_ >= 0) ::close(fd_);
}

std::pair<int, int> FrameChannel::socketPair() {
  int fds[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) return {-1, -1};
  return {fds[0], fds[1]};
}

bool FrameChannel::send(uint32_t kind, std::string_view payload) {
  FrameHeader header{static_cast<uint32_t>(payload.size()), kind};
  out_.clear();
  out_.reserve(sizeof header + payload.size());
  out_.append(reinterpret_cast<const char*>(&header), sizeof header);
  out_.append(payload);
  size_t done = 0;
  while (done < out_.size()) {
    ssize_t n = ::send(fd_, out_.data() + done, out_.size() - done, MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN) {
        pollfd p{fd_, POLLOUT, 0};
        ::poll(&p, 1, -1);
        continue;
      }
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

bool FrameChannel::takeBuffered(Frame& out) {
  const size_t avail = inEnd_ - inStart_;
  if (avail < sizeof(FrameHeader)) return false;
  FrameHeader header;
  std::memcpy(&header, in_.data() + inStart_, sizeof header);
  if (avail < sizeof header + header.size) {
    // Make room for the whole frame once its size is known.
    if (in_.size() < sizeof header + header.size) {
      std::vector<char> bigger(sizeof header + header.size + kReadChunk);
      std::memcpy(bigger.data(), in_.data() + inStart_, avail);
      in_.swap(bigger);
      inStart_ = 0;
      inEnd_ = avail;
    }
    return false;
  }
  out.kind = header.kind;
  out.payload.assign(in_.data() + inStart_ + sizeof header, header.size);
  inStart_ += sizeof header + header.size;
  if (inStart_ == inEnd_) inStart_ = inEnd_ = 0;
  return true;
}

FrameChannel::Status FrameChannel::fill(bool block) {
  if (inStart_ > 0 && inEnd_ == in_.size()) {
    std::memmove(in_.data(), in_.data() + inStart_, inEnd_ - inStart_);
    inEnd_ -= inStart_;
    inStart_ = 0;
  }
  for (;;) {
    ssize_t n = ::recv(fd_, in_.data() + inEnd_, in_.size() - inEnd_, block ? 0 : MSG_DONTWAIT);
    if (n > 0) {
      inEnd_ += static_cast<size_t>(n);
      return Status::Ok;
    }
    if (n == 0) return Status::Closed;
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return Status::WouldBlock;
    return Status::Closed;
  }
}

FrameChannel::Status FrameChannel::tryReceive(Frame& out) {
  for (;;) {
    if (takeBuffered(out)) return Status::Ok;
    Status s = fill(false);
    if (s != Status::Ok) return s;
  }
}

FrameChannel::Status FrameChannel::receive(Frame& out, int spinMicros) {
  using Clock = std::chrono::steady_clock;
  const auto spinUntil = Clock::now() + std::chrono::microseconds(spinMicros);
  for (;;) {
    if (takeBuffered(out)) return Status::Ok;
    Status s = fill(false);
    if (s == Status::Closed) return s;
    if (s == Status::Ok) continue;
    if (spinMicros > 0 && Clock::now() < spinUntil) {
      // Hand the core over while waiting: on a busy machine the peer we
      // wait for may need it.
      sched_yield();
      continue;
    }
    s = fill(true);
    if (s == Status::Closed) return s;
  }
}

bool PayloadReader::raw(void* p, size_t n) {
  if (data_.size() - pos_ < n) return false;
  std::memcpy(p, data_.data() + pos_, n);
  pos_ += n;
  return true;
}

bool PayloadReader::text(std::string& s) {
  uint32_t n;
  if (!u32(n) || data_.size() - pos_ < n) return false;
  s.assign(data_.data() + pos_, n);
  pos_ += n;
  return true;
}

std::string encodeReply(const Reply& reply) {
  PayloadWriter w;
  w.u32(static_cast<uint32_t>(reply.actions.size()));
  for (const auto& a : reply.actions) {
    w.u8(a.type);
    w.u64(a.handle);
    w.text(a.text);
  }
  w.text(reply.error);
  w.u32(static_cast<uint32_t>(reply.retained.size()));
  for (uint64_t h : reply.retained) w.u64(h);
  w.u8(reply.hasValue ? 1 : 0);
  if (reply.hasValue) w.rest(reply.valueJson);
  return std::move(w.data());
}

bool decodeReply(std::string_view payload, Reply& out) {
  PayloadReader r(payload);
  uint32_t n;
  if (!r.u32(n)) return false;
  out.actions.clear();
  for (uint32_t i = 0; i < n; ++i) {
    PageAction a;
    uint8_t type;
    if (!r.u8(type) || type > PageAction::kCallFunction || !r.u64(a.handle) || !r.text(a.text))
      return false;
    a.type = static_cast<PageAction::Type>(type);
    out.actions.push_back(std::move(a));
  }
  uint8_t has;
  uint32_t kept;
  if (!r.text(out.error) || !r.u32(kept) || kept > payload.size() / sizeof(uint64_t)) return false;
  out.retained.resize(kept);
  for (auto& h : out.retained)
    if (!r.u64(h)) return false;
  if (!r.u8(has)) return false;
  out.hasValue = has != 0;
  out.valueJson = out.hasValue ? std::string(r.rest()) : std::string();
  return true;
}

}  // namespace corvane::bridge
