#pragma once
// The framed channel of synchronous bridge calls: a stream socket carrying
// [FrameHeader][payload] frames. One sendmsg() per frame (header and payload
// gathered, never copied together); reads fill a buffer and usually take a
// whole frame with one recv(), and a large frame is read straight into its
// own payload. Shared with the extension.
#include "bridge/BridgeProtocol.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace corvane::bridge {

struct Frame {
  uint32_t kind = 0;
  std::string payload;
};

class FrameChannel {
 public:
  enum class Status { Ok, WouldBlock, Closed };

  // Takes ownership of `fd` (closed by the destructor).
  explicit FrameChannel(int fd);
  ~FrameChannel();
  FrameChannel(const FrameChannel&) = delete;
  FrameChannel& operator=(const FrameChannel&) = delete;

  // A connected pair of close-on-exec stream sockets; {-1,-1} on failure.
  static std::pair<int, int> socketPair();

  // Frames above this size are refused: the sender gets false, and a
  // receiver that is offered one reports the channel closed.
  static constexpr size_t kMaxPayload = size_t{1} << 30;

  int fd() const { return fd_; }
  bool send(uint32_t kind, std::string_view payload) { return send(kind, payload, {}); }
  // One frame whose payload is `head` followed by `tail`, never copied
  // together.
  bool send(uint32_t kind, std::string_view head, std::string_view tail);
  // Waits for one frame. Polls without sleeping for up to `spinMicros`
  // first: a caller that expects an answer within microseconds saves the
  // scheduler round trip of a sleeping read.
  Status receive(Frame& out, int spinMicros = 0);
  // Takes a frame only when one is already complete or readable now.
  Status tryReceive(Frame& out);

 private:
  bool takeBuffered(Frame& out);
  Status fill(bool block);

  int fd_;
  std::vector<char> in_;
  size_t inStart_ = 0;
  size_t inEnd_ = 0;
  // A frame too large for the buffer, read into its payload directly.
  std::optional<Frame> large_;
  size_t largeHave_ = 0;
  std::string spare_;  // memory for the next large frame
  bool broken_ = false;  // the peer offered a frame above kMaxPayload
};

// Little-endian-free (same machine) binary helpers for frame payloads.
class PayloadWriter {
 public:
  void u8(uint8_t v) { data_.push_back(static_cast<char>(v)); }
  void u32(uint32_t v) { data_.append(reinterpret_cast<const char*>(&v), sizeof v); }
  void u64(uint64_t v) { data_.append(reinterpret_cast<const char*>(&v), sizeof v); }
  void text(std::string_view s) {
    u32(static_cast<uint32_t>(s.size()));
    data_.append(s);
  }
  void rest(std::string_view s) { data_.append(s); }
  // A length-prefixed part written in place: begin() reserves the length,
  // the caller appends to data(), end() fills the length in.
  size_t begin() {
    u32(0);
    return data_.size();
  }
  void end(size_t start) {
    const auto n = static_cast<uint32_t>(data_.size() - start);
    std::memcpy(data_.data() + start - sizeof n, &n, sizeof n);
  }
  std::string& data() { return data_; }

 private:
  std::string data_;
};

class PayloadReader {
 public:
  explicit PayloadReader(std::string_view data) : data_(data) {}
  bool u8(uint8_t& v) { return raw(&v, sizeof v); }
  bool u32(uint32_t& v) { return raw(&v, sizeof v); }
  bool u64(uint64_t& v) { return raw(&v, sizeof v); }
  bool text(std::string& s);
  std::string_view rest() const { return data_.substr(pos_); }

 private:
  bool raw(void* p, size_t n);
  std::string_view data_;
  size_t pos_ = 0;
};

// Arguments of a kCall, after the object and method ids: each is a kind
// byte and a length-prefixed body. Script strings travel as they are (no
// JSON escaping to do and undo), everything else as JSON text.
enum ArgumentKind : uint8_t {
  kTextArgument = 's',  // UTF-8, well-formed, U+0000 allowed
  kJsonArgument = 'j',  // JSON text of any other value
};

inline void writeArgument(PayloadWriter& w, ArgumentKind kind, std::string_view body) {
  w.u8(kind);
  w.text(body);
}
// The arguments as script values; false for a malformed list. JSON that
// does not parse reads as null.
bool decodeArguments(std::string_view list, std::vector<nlohmann::json>& out);

// What the UI process answers to a call: the work the method asked to run
// in the page "at once" (collected while the page was blocked in the call)
// and then the method's value.
struct PageAction {
  enum Type : uint8_t { kEvaluate = 0, kCallFunction = 1 };
  Type type = kEvaluate;
  uint64_t handle = 0;  // kCallFunction
  std::string text;     // script, or the JSON array of arguments
};

struct Reply {
  std::vector<PageAction> actions;
  bool hasValue = false;  // false: the method returns nothing (undefined)
  // The value is a string: valueJson holds the text itself (UTF-8, made
  // well-formed when the reply is encoded), not its JSON form.
  bool valueIsText = false;
  std::string valueJson;  // JSON text of the value when hasValue
  std::string error;      // non-empty: throw this text as a script exception
  // Page functions of this call's arguments that the native side kept;
  // the others are dropped by the page once the call returns.
  std::vector<uint64_t> retained;
};

std::string encodeReply(const Reply& reply);
// The payload of `reply` but its value, which follows it unchanged: a large
// text is sent from where it is. Makes a text value well-formed in place.
std::string encodeReplyHead(Reply& reply);
bool decodeReply(std::string_view payload, Reply& out);

}  // namespace corvane::bridge
