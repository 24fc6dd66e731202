#include "services/FileWriter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <system_error>

namespace corvane::filewriter {
namespace {

int64_t integerValue(const nlohmann::json& v, size_t index) {
  if (v.is_number_integer()) return v.get<int64_t>();
  if (v.is_number_unsigned()) return static_cast<int64_t>(v.get<uint64_t>());
  if (v.is_number_float()) {
    const double d = v.get<double>();
    if (!std::isfinite(d)) return 0;
    return static_cast<int64_t>(std::fmod(std::trunc(d), 256.0));
  }
  if (v.is_boolean()) return v.get<bool>() ? 1 : 0;
  if (v.is_string()) return std::strtoll(v.get_ref<const std::string&>().c_str(), nullptr, 10);
  throw std::invalid_argument("data[" + std::to_string(index) + "] has no integer value");
}

int base64Value(unsigned char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

}  // namespace

std::string bytesFromArray(const nlohmann::json& data) {
  if (!data.is_array()) throw std::invalid_argument("\"data\" is not an array");
  std::string bytes(data.size(), '\0');
  for (size_t i = 0; i < data.size(); ++i) {
    const int64_t v = integerValue(data[i], i);
    bytes[i] = static_cast<char>(static_cast<unsigned char>(((v % 256) + 256) % 256));
  }
  return bytes;
}

std::string decodeBase64(const std::string& text) {
  std::string out;
  out.reserve(text.size() / 4 * 3 + 3);
  uint32_t group = 0;
  int count = 0;
  for (unsigned char c : text) {
    const int v = base64Value(c);
    if (v < 0) continue;
    group = (group << 6) | static_cast<uint32_t>(v);
    if (++count == 4) {
      out.push_back(static_cast<char>(group >> 16));
      out.push_back(static_cast<char>(group >> 8));
      out.push_back(static_cast<char>(group));
      group = 0;
      count = 0;
    }
  }
  if (count == 2) {
    out.push_back(static_cast<char>(group >> 4));
  } else if (count == 3) {
    out.push_back(static_cast<char>(group >> 10));
    out.push_back(static_cast<char>(group >> 2));
  }
  return out;
}

uint64_t truncateFile(const std::string& path, uint64_t length) {
  struct stat before{};
  if (::stat(path.c_str(), &before) != 0) return 0;  // nothing there to cut
  int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) throw std::system_error(errno, std::generic_category(), "cannot open " + path);
  if (length > static_cast<uint64_t>(INT64_MAX) || ::ftruncate(fd, static_cast<off_t>(length)) != 0) {
    const int saved = length > static_cast<uint64_t>(INT64_MAX) ? EFBIG : errno;
    ::close(fd);
    throw std::system_error(saved, std::generic_category(), "cannot set the length of " + path);
  }
  ::fsync(fd);
  struct stat st{};
  ::fstat(fd, &st);
  ::close(fd);
  return static_cast<uint64_t>(st.st_size);
}

std::string probe(const std::string& path) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return std::strerror(errno);
  ::close(fd);
  return "";
}

WriteOutcome streamWrite(const std::string& path, const std::function<std::string()>& bytes, bool append) {
  WriteOutcome outcome;
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | (append ? O_APPEND : O_TRUNC), 0600);
  if (fd < 0) return outcome;
  outcome.streamOpened = true;
  try {
    const std::string data = bytes();
    ssize_t n = 0;
    do {
      n = ::write(fd, data.data(), data.size());
    } while (n < 0 && errno == EINTR);
    outcome.bytesWritten = n;
  } catch (const std::exception& e) {
    outcome.exception = e.what();
    outcome.bytesWritten = 0;
  }
  ::close(fd);
  return outcome;
}

}  // namespace corvane::filewriter
