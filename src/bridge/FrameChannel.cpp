#include "bridge/FrameChannel.h"

#include "bridge/TextEncoding.h"

#include <poll.h>
#include <sched.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

namespace corvane::bridge {

namespace {
// Kinds of a reply's value.
constexpr uint8_t kNoValue = 0;
constexpr uint8_t kJsonValue = 'j';
constexpr uint8_t kTextValue = 's';

constexpr size_t kReadChunk = 64 * 1024;
constexpr int kSocketBuffer = 1024 * 1024;
// Memory kept for the next large frame at most; beyond that it goes back.
constexpr size_t kKeptSpare = 8 * 1024 * 1024;
}

FrameChannel::FrameChannel(int fd) : fd_(fd), in_(kReadChunk) {}

FrameChannel::~FrameChannel() {
  if (fd_ >= 0) ::close(fd_);
}

std::pair<int, int> FrameChannel::socketPair() {
  int fds[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) return {-1, -1};
  // Large frames cross in fewer pieces (the system caps the size asked for).
  for (int fd : fds) ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &kSocketBuffer, sizeof kSocketBuffer);
  return {fds[0], fds[1]};
}

bool FrameChannel::send(uint32_t kind, std::string_view head, std::string_view tail) {
  if (head.size() > kMaxPayload || tail.size() > kMaxPayload - head.size()) return false;
  FrameHeader header{static_cast<uint32_t>(head.size() + tail.size()), kind};
  iovec parts[3] = {{&header, sizeof header},
                    {const_cast<char*>(head.data()), head.size()},
                    {const_cast<char*>(tail.data()), tail.size()}};
  msghdr message{};
  message.msg_iov = parts;
  message.msg_iovlen = 3;
  size_t left = sizeof header + head.size() + tail.size();
  while (left > 0) {
    ssize_t n = ::sendmsg(fd_, &message, MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN) {
        pollfd p{fd_, POLLOUT, 0};
        ::poll(&p, 1, -1);
        continue;
      }
      return false;
    }
    left -= static_cast<size_t>(n);
    // Step over what went out.
    while (n > 0 && message.msg_iovlen > 0) {
      iovec& first = message.msg_iov[0];
      const size_t step = std::min(first.iov_len, static_cast<size_t>(n));
      first.iov_base = static_cast<char*>(first.iov_base) + step;
      first.iov_len -= step;
      n -= static_cast<ssize_t>(step);
      if (first.iov_len == 0) {
        ++message.msg_iov;
        --message.msg_iovlen;
      }
    }
  }
  return true;
}

bool FrameChannel::takeBuffered(Frame& out) {
  // Callers keep one Frame for all their frames, so its memory serves again;
  // only what a rare huge frame left behind goes back.
  if (out.payload.capacity() > kKeptSpare) out.payload = std::string();
  if (large_) {
    if (largeHave_ < large_->payload.size()) return false;
    // The caller's old payload becomes the next large frame's buffer: its
    // memory is in place already, so a run of large frames does not fault
    // fresh pages in for every one.
    out.kind = large_->kind;
    out.payload.swap(large_->payload);
    spare_ = std::move(large_->payload);
    if (spare_.capacity() > kKeptSpare) spare_ = std::string();
    large_.reset();
    return true;
  }
  const size_t avail = inEnd_ - inStart_;
  if (avail < sizeof(FrameHeader)) return false;
  FrameHeader header;
  std::memcpy(&header, in_.data() + inStart_, sizeof header);
  if (header.size > kMaxPayload) {
    broken_ = true;
    return false;
  }
  if (avail < sizeof header + header.size) {
    if (sizeof header + header.size > in_.size()) {
      // Too large for the buffer: the rest is read into the frame itself.
      large_.emplace();
      large_->kind = header.kind;
      large_->payload = std::move(spare_);
      large_->payload.resize(header.size);
      largeHave_ = avail - sizeof header;
      std::memcpy(large_->payload.data(), in_.data() + inStart_ + sizeof header, largeHave_);
      inStart_ = inEnd_ = 0;
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
  if (broken_) return Status::Closed;
  char* into;
  size_t room;
  if (large_) {
    into = large_->payload.data() + largeHave_;
    room = large_->payload.size() - largeHave_;
  } else {
    if (inStart_ > 0 && inEnd_ == in_.size()) {
      std::memmove(in_.data(), in_.data() + inStart_, inEnd_ - inStart_);
      inEnd_ -= inStart_;
      inStart_ = 0;
    }
    into = in_.data() + inEnd_;
    room = in_.size() - inEnd_;
  }
  for (;;) {
    ssize_t n = ::recv(fd_, into, room, block ? 0 : MSG_DONTWAIT);
    if (n > 0) {
      (large_ ? largeHave_ : inEnd_) += static_cast<size_t>(n);
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
  Reply copy = reply;
  std::string bytes = encodeReplyHead(copy);
  return bytes + copy.valueJson;
}

std::string encodeReplyHead(Reply& reply) {
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
  if (!reply.hasValue) {
    w.u8(kNoValue);
    reply.valueJson.clear();
  } else if (!reply.valueIsText) {
    w.u8(kJsonValue);
  } else {
    // Native texts (file names above all) need not be UTF-8; the page gets
    // U+FFFD where they are not.
    w.u8(kTextValue);
    if (!isWellFormedUtf8(reply.valueJson)) reply.valueJson = wellFormedUtf8(reply.valueJson);
  }
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
  if (!r.u8(has) || (has != kNoValue && has != kJsonValue && has != kTextValue)) return false;
  out.hasValue = has != kNoValue;
  out.valueIsText = has == kTextValue;
  if (out.hasValue)
    out.valueJson.assign(r.rest());
  else
    out.valueJson.clear();
  return true;
}

bool decodeArguments(std::string_view list, std::vector<nlohmann::json>& out) {
  PayloadReader r(list);
  out.clear();
  std::string body;
  uint8_t kind;
  while (!r.rest().empty()) {
    if (!r.u8(kind) || !r.text(body)) return false;
    if (kind == kTextArgument)
      out.emplace_back(std::move(body));
    else if (kind == kJsonArgument) {
      auto value = nlohmann::json::parse(body, nullptr, false);
      out.push_back(value.is_discarded() ? nlohmann::json() : std::move(value));
    } else
      return false;
    body.clear();
  }
  return true;
}

}  // namespace corvane::bridge
