#include "services/FileWriter.h"

#include "app/AtomicFile.h"
#include "app/ErrorText.h"
#include "app/Utils.h"

#include <glib.h>
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

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// The end (one past the closing quote) of the JSON string at `i`.
size_t stringEnd(std::string_view t, size_t i) {
  for (++i; i < t.size(); ++i) {
    if (t[i] == '\\') ++i;
    else if (t[i] == '"') return i + 1;
  }
  return std::string_view::npos;
}

// The end of the JSON value at `i` (validated later by the parser).
size_t valueEnd(std::string_view t, size_t i) {
  if (i >= t.size()) return std::string_view::npos;
  if (t[i] == '"') return stringEnd(t, i);
  if (t[i] == '{' || t[i] == '[') {
    int depth = 0;
    while (i < t.size()) {
      const char c = t[i];
      if (c == '"') {
        i = stringEnd(t, i);
        if (i == std::string_view::npos) return i;
        continue;
      }
      if (c == '{' || c == '[') ++depth;
      if (c == '}' || c == ']') {
        if (--depth == 0) return i + 1;
      }
      ++i;
    }
    return std::string_view::npos;
  }
  while (i < t.size() && t[i] != ',' && t[i] != '}' && t[i] != ']' && !isSpace(t[i])) ++i;
  return i;
}

// A JSON array of plain integers at `i` ("[" included) as bytes modulo 256.
std::optional<std::string> integerArray(std::string_view t, size_t& i) {
  std::string bytes;
  bytes.reserve(t.size() / 3);
  ++i;
  auto ws = [&] { while (i < t.size() && isSpace(t[i])) ++i; };
  ws();
  if (i < t.size() && t[i] == ']') {
    ++i;
    return bytes;
  }
  for (;;) {
    ws();
    const bool negative = i < t.size() && t[i] == '-';
    if (negative) ++i;
    const size_t start = i;
    unsigned value = 0;  // modulo 256 as it grows: 256 divides 10^8
    while (i < t.size() && t[i] >= '0' && t[i] <= '9') value = (value * 10 + static_cast<unsigned>(t[i++] - '0')) & 255;
    const size_t digits = i - start;
    // Leave anything unusual to the general reader: no digits, a leading
    // zero, more digits than a 64-bit integer holds, fractions, exponents.
    if (digits == 0 || digits > 18 || (digits > 1 && t[start] == '0')) return std::nullopt;
    if (i < t.size() && (t[i] == '.' || t[i] == 'e' || t[i] == 'E')) return std::nullopt;
    bytes.push_back(static_cast<char>(negative ? (256 - value) & 255 : value));
    ws();
    if (i < t.size() && t[i] == ',') {
      ++i;
      continue;
    }
    if (i < t.size() && t[i] == ']') {
      ++i;
      return bytes;
    }
    return std::nullopt;
  }
}

// A JSON string token that needs no decoding: no escapes, no control
// characters, valid UTF-8 (what base64 and most texts are).
bool plainText(std::string_view raw) {
  if (raw.size() < 2 || raw.front() != '"') return false;
  const std::string_view inner = raw.substr(1, raw.size() - 2);
  for (char c : inner)
    if (c == '\\' || static_cast<unsigned char>(c) < 0x20) return false;
  return g_utf8_validate(inner.data(), static_cast<gssize>(inner.size()), nullptr);
}

}  // namespace

std::optional<ByteArrayParams> readByteArrayParams(std::string_view t) {
  try {
    size_t i = 0;
    auto ws = [&] { while (i < t.size() && isSpace(t[i])) ++i; };
    ws();
    if (i >= t.size() || t[i] != '{') return std::nullopt;
    ++i;
    ByteArrayParams out{nlohmann::json::object(), std::nullopt};
    bool haveBytes = false;
    ws();
    if (i < t.size() && t[i] == '}') return std::nullopt;
    for (;;) {
      ws();
      if (i >= t.size() || t[i] != '"') return std::nullopt;
      const size_t keyEnd = stringEnd(t, i);
      if (keyEnd == std::string_view::npos) return std::nullopt;
      const std::string key = nlohmann::json::parse(t.substr(i, keyEnd - i)).get<std::string>();
      i = keyEnd;
      ws();
      if (i >= t.size() || t[i] != ':') return std::nullopt;
      ++i;
      ws();
      if (key == "data" && i < t.size() && t[i] == '[') {
        auto bytes = integerArray(t, i);
        if (!bytes) return std::nullopt;
        out.bytes = std::move(*bytes);
        haveBytes = true;
      } else {
        const size_t end = valueEnd(t, i);
        if (end == std::string_view::npos) return std::nullopt;
        if (key == "data") return std::nullopt;  // a "data" of another kind
        const std::string_view raw = t.substr(i, end - i);
        nlohmann::json value = plainText(raw) ? nlohmann::json(std::string(raw.substr(1, raw.size() - 2)))
                                              : nlohmann::json::parse(raw);
        if (value.is_null())
          out.params.erase(key);
        else
          out.params[key] = std::move(value);
        i = end;
      }
      ws();
      if (i < t.size() && t[i] == ',') {
        ++i;
        continue;
      }
      if (i < t.size() && t[i] == '}') {
        ++i;
        break;
      }
      return std::nullopt;
    }
    ws();
    if (i != t.size()) return std::nullopt;
    if (!haveBytes) out.bytes.reset();
    return out;
  } catch (const nlohmann::json::exception&) {
    return std::nullopt;
  }
}

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
  if (::stat(Utils::fsPath(path), &before) != 0) return 0;  // nothing there to cut
  // A device or a pipe has no length to set (and opening a pipe for writing
  // would wait for a reader).
  if (!S_ISREG(before.st_mode) && !S_ISDIR(before.st_mode)) return 0;
  int fd = ::open(Utils::fsPath(path), O_WRONLY | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) throw std::system_error(errno, std::generic_category(), "cannot open " + path);
  if (length > static_cast<uint64_t>(INT64_MAX) || ::ftruncate(fd, static_cast<off_t>(length)) != 0) {
    const int saved = length > static_cast<uint64_t>(INT64_MAX) ? EFBIG : errno;
    ::close(fd);
    throw std::system_error(saved, std::generic_category(), "cannot set the length of " + path);
  }
  struct stat st{};
  ::fstat(fd, &st);
  ::close(fd);
  return static_cast<uint64_t>(st.st_size);
}

std::string probe(const std::string& path) {
  int fd = ::open(Utils::fsPath(path), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0600);
  if (fd < 0) return std::strerror(errno);
  ::close(fd);
  return "";
}

std::string probeReplace(const std::string& path) {
  const std::string target = finalLinkTarget(Utils::fsPath(path));
  if (target.empty()) return std::strerror(ENOENT);
  struct stat st{};
  if (::stat(target.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) return std::strerror(EISDIR);
    const int fd = ::open(target.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return std::strerror(errno);
    ::close(fd);
    return "";
  }
  if (errno != ENOENT) return std::strerror(errno);
  const auto slash = target.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : target.substr(0, slash);
  if (::stat(folder.c_str(), &st) != 0) return std::strerror(errno);
  if (!S_ISDIR(st.st_mode)) return std::strerror(ENOTDIR);
  if (::faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) != 0) return std::strerror(errno);
  return "";
}

namespace {

WriteResult cannotOpen(std::string reason) {
  WriteResult r;
  r.kind = WriteResult::Kind::CannotOpen;
  r.reason = std::move(reason);
  return r;
}

// The bytes to write, or the answer that there are none.
std::optional<std::string> buildBytes(const std::function<std::string()>& bytes, WriteResult& result) {
  try {
    std::string data = bytes();
    if (!data.empty()) return data;
  } catch (const std::exception& e) {
    result.exception = e.what();
  }
  result.kind = WriteResult::Kind::NothingWritten;
  return std::nullopt;
}

WriteResult appendBytes(const std::string& path, const std::function<std::string()>& bytes,
                        std::optional<uint64_t> cutTo) {
  struct stat st{};
  const bool existed = ::stat(Utils::fsPath(path), &st) == 0;
  if (cutTo) {
    try {
      truncateFile(path, *cutTo);
    } catch (const std::system_error& e) {
      // A folder, a read-only file or disk: the same failure as the probe's.
      return cannotOpen(std::strerror(e.code().value()));
    }
  }
  if (std::string reason = probe(path); !reason.empty()) return cannotOpen(std::move(reason));
  WriteResult result;
  auto data = buildBytes(bytes, result);
  if (!data) return result;
  int fd = ::open(Utils::fsPath(path), O_WRONLY | O_APPEND | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return cannotOpen(std::strerror(errno));
  size_t done = 0;
  int error = 0;
  while (done < data->size()) {
    const ssize_t n = ::write(fd, data->data() + done, data->size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      error = n < 0 ? errno : EIO;
      break;
    }
    done += static_cast<size_t>(n);
  }
  ::close(fd);
  result.bytesWritten = static_cast<int64_t>(done);
  if (done == data->size()) {
    result.kind = WriteResult::Kind::Written;
    return result;
  }
  result.kind = WriteResult::Kind::Failed;
  result.reason = failureText("cannot append to", path, error);
  // Nothing arrived in a file this write made: it goes again.
  if (done == 0 && !existed && ::stat(Utils::fsPath(path), &st) == 0 && S_ISREG(st.st_mode) && st.st_size == 0)
    ::unlink(Utils::fsPath(path));
  return result;
}

WriteResult replaceBytes(const std::string& path, const std::function<std::string()>& bytes) {
  if (std::string reason = probeReplace(path); !reason.empty()) return cannotOpen(std::move(reason));
  WriteResult result;
  auto data = buildBytes(bytes, result);
  if (!data) return result;
  const AtomicWrite w = replaceFileContent(Utils::fsPath(path), *data, 0600);
  if (w.ok) {
    result.kind = WriteResult::Kind::Written;
    result.bytesWritten = static_cast<int64_t>(data->size());
  } else if (w.stage == AtomicWrite::Stage::Open) {
    return cannotOpen(std::strerror(w.error));
  } else {
    result.kind = WriteResult::Kind::Failed;
    result.reason = failureText("cannot save", path, w.error);
  }
  return result;
}

}  // namespace

WriteResult write(const std::string& path, const std::function<std::string()>& bytes, bool append,
                  std::optional<uint64_t> cutTo) {
  return append ? appendBytes(path, bytes, cutTo) : replaceBytes(path, bytes);
}

}  // namespace corvane::filewriter
