#pragma once
// What the shell and its purchase host say to each other over the host's
// standard input and output: one JSON object per line.
//
//   host -> shell, first:  {"hello": {"name", "apiVersion", "canMakePayments"}}
//                     or:  {"refused": "why the helper cannot be loaded"}
//   shell -> host:         {"id": n, "op": "buy", "params": {...}}
//   host -> shell:         {"id": n, "result": {...}, "canMakePayments": b}
//                     or:  {"id": n, "error": "why", "canMakePayments": b}
//   host -> shell, any time: {"event": {...}}   (a store notification)
//
// Requests are answered in order; events notified during a request come
// before its answer.
#include "corvane/purchase.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvane::purchase {

// The page's requests that reach a helper operation, by wire name.
struct Operation {
  const char* name;
  corvane_purchase_operation corvane_purchase_helper::*member;
};
const std::vector<Operation>& operations();
const Operation* operationNamed(std::string_view name);

// Splits a byte stream into lines. A line longer than the limit is a fault
// of the sender: `feed` then answers false and the reader takes nothing more.
class LineReader {
 public:
  explicit LineReader(size_t maxLine = 16u << 20) : maxLine_(maxLine) {}
  bool feed(const char* data, size_t size);
  // The next complete line (without its line break), if any.
  std::optional<std::string> next();
  bool overflowed() const { return overflowed_; }

 private:
  bool overflow();
  size_t maxLine_;
  std::string buffer_;
  size_t start_ = 0;
  bool overflowed_ = false;
};

}  // namespace corvane::purchase
