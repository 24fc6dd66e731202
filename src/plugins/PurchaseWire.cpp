#include "plugins/PurchaseWire.h"

namespace corvane::purchase {

const std::vector<Operation>& operations() {
  static const std::vector<Operation> table = {
      {"startService", &corvane_purchase_helper::start_service},
      {"requestProducts", &corvane_purchase_helper::request_products},
      {"buy", &corvane_purchase_helper::buy},
      {"restore", &corvane_purchase_helper::restore},
      {"getPrice", &corvane_purchase_helper::get_price},
      {"getUseCount", &corvane_purchase_helper::get_use_count},
      {"useProduct", &corvane_purchase_helper::use_product},
  };
  return table;
}

const Operation* operationNamed(std::string_view name) {
  for (const auto& op : operations())
    if (name == op.name) return &op;
  return nullptr;
}

bool LineReader::feed(const char* data, size_t size) {
  if (overflowed_) return false;
  // Drop what was handed out already before growing.
  if (start_ > 0 && start_ * 2 >= buffer_.size()) {
    buffer_.erase(0, start_);
    start_ = 0;
  }
  buffer_.append(data, size);
  // The unfinished line at the end must not outgrow the limit.
  const size_t lastBreak = buffer_.rfind('\n');
  const size_t open = lastBreak == std::string::npos || lastBreak < start_ ? start_ : lastBreak + 1;
  if (buffer_.size() - open > maxLine_) return overflow();
  return true;
}

bool LineReader::overflow() {
  overflowed_ = true;
  buffer_.clear();
  start_ = 0;
  return false;
}

std::optional<std::string> LineReader::next() {
  if (overflowed_) return std::nullopt;
  const size_t lineBreak = buffer_.find('\n', start_);
  if (lineBreak == std::string::npos) return std::nullopt;
  if (lineBreak - start_ > maxLine_) {
    overflow();
    return std::nullopt;
  }
  std::string line = buffer_.substr(start_, lineBreak - start_);
  start_ = lineBreak + 1;
  return line;
}

}  // namespace corvane::purchase
