#include "services/BinaryFileWriter.h"

#include "app/Log.h"
#include "app/Utils.h"
#include "bridge/MainQueue.h"
#include "bridge/UtilTool.h"
#include "services/FileWriter.h"
#include "services/ImageFiles.h"
#include "services/TextEncodings.h"

#include <fstream>
#include <iterator>
#include <stdexcept>
#include <thread>

namespace corvane {
namespace {

constexpr const char* kNothingWritten = "bytesWritten = 0; may be set to -1 on error [fileStream streamError]";

// A params value that must be a text when present.
std::string textParam(const nlohmann::json& params, const char* key) {
  auto it = params.find(key);
  if (it == params.end()) return "";
  if (!it->is_string()) throw std::invalid_argument(std::string("\"") + key + "\" is not a text");
  return it->get<std::string>();
}

bool boolParam(const nlohmann::json& params, const char* key, bool fallback) {
  auto it = params.find(key);
  if (it == params.end()) return fallback;
  if (it->is_boolean()) return it->get<bool>();
  if (it->is_number()) return it->get<double>() != 0;
  if (it->is_string()) {
    const std::string& s = it->get_ref<const std::string&>();
    return !s.empty() && (s[0] == 'Y' || s[0] == 'y' || s[0] == 'T' || s[0] == 't' || (s[0] >= '1' && s[0] <= '9'));
  }
  throw std::invalid_argument(std::string("\"") + key + "\" is not a boolean");
}

int64_t offsetParam(const nlohmann::json& params) {
  auto it = params.find("offset");
  if (it == params.end()) return 0;
  if (it->is_number()) return static_cast<int64_t>(it->get<double>());
  if (it->is_string()) return std::strtoll(it->get_ref<const std::string&>().c_str(), nullptr, 10);
  throw std::invalid_argument("\"offset\" is not a number");
}

void prepareFolder(const std::string& path) {
  const std::string parent = Utils::getPathParentPath(path);
  if (!parent.empty() && !Utils::checkPathIsDir(parent)) Utils::createDirWithPath(parent);
}

std::optional<std::string> readWhole(const std::string& path, std::string* error) {
  GError* e = nullptr;
  gchar* data = nullptr;
  gsize length = 0;
  if (!g_file_get_contents(Utils::fsPath(path), &data, &length, &e)) {
    if (error) *error = e ? e->message : "cannot read " + path;
    if (e) g_error_free(e);
    return std::nullopt;
  }
  std::string bytes(data, length);
  g_free(data);
  return bytes;
}

std::optional<std::string> readText(const std::string& path, uint64_t encoding, std::string* error) {
  auto bytes = readWhole(path, error);
  if (!bytes) return std::nullopt;
  std::string why;
  auto text = textenc::decode(*bytes, encoding, &why);
  if (!text && error) {
    const std::string label = textenc::encodingLabel(encoding);
    *error = "The file " + path + " could not be read as " + (label.empty() ? "text" : label + " text") + ": " + why;
  }
  return text;
}

}  // namespace

BinaryFileWriter::BinaryFileWriter(std::shared_ptr<PageScript> page, WebKitWebView* webView)
    : page_(std::move(page)), webView_(webView) {
  if (webView_) g_object_add_weak_pointer(G_OBJECT(webView_), reinterpret_cast<gpointer*>(&webView_));
}

BinaryFileWriter::~BinaryFileWriter() {
  if (webView_) g_object_remove_weak_pointer(G_OBJECT(webView_), reinterpret_cast<gpointer*>(&webView_));
}

// ---- the error alert ---------------------------------------------------------------

void BinaryFileWriter::showErrorAlert(const std::string& message, const std::string& info) {
  GtkWindow* parent = nullptr;
  if (webView_)
    if (GtkWidget* top = gtk_widget_get_toplevel(GTK_WIDGET(webView_)); top && GTK_IS_WINDOW(top))
      parent = GTK_WINDOW(top);
  errorAlert_ = gtk_message_dialog_new(parent, GTK_DIALOG_MODAL, GTK_MESSAGE_WARNING, GTK_BUTTONS_NONE, "%s",
                                       message.c_str());
  gtk_message_dialog_format_secondary_text(GTK_MESSAGE_DIALOG(errorAlert_), "%s", info.c_str());
  gtk_window_set_title(GTK_WINDOW(errorAlert_), message.c_str());
  gtk_dialog_add_button(GTK_DIALOG(errorAlert_), "Continue", GTK_RESPONSE_OK);
  log().info("{}: {}", message, info);
  // The caller waits here until the person dismisses the alert.
  gtk_dialog_run(GTK_DIALOG(errorAlert_));
  gtk_widget_destroy(errorAlert_);
  errorAlert_ = nullptr;
}

// ---- writes -----------------------------------------------------------------------------

double BinaryFileWriter::truncateFile(const std::string& path, double length) {
  return static_cast<double>(filewriter::truncateFile(path, static_cast<uint64_t>(length < 0 ? 0 : length)));
}

void BinaryFileWriter::streamWrite(const nlohmann::json& pathValue, const nlohmann::json& data, Payload payload,
                                   bool append, const std::string& callback, const std::string* prebuilt,
                                   std::optional<uint64_t> cutTo) {
  nlohmann::json result = UtilTool::resultDictionary();
  if (!pathValue.is_string()) {
    result["error"] = "invalid filePath";
    EvalJsWithWebView(page_, callback, result);
    return;
  }
  const std::string path = pathValue.get<std::string>();
  auto bytes = [&]() -> std::string {
    if (prebuilt) return *prebuilt;
    switch (payload) {
      case Payload::Bytes:
        return filewriter::bytesFromArray(data);
      case Payload::Base64:
        if (!data.is_string()) throw std::invalid_argument("\"base64String\" is not a text");
        return filewriter::decodeBase64(data.get<std::string>());
      case Payload::Text:
        if (!data.is_string()) throw std::invalid_argument("\"text\" is not a text");
        return data.get<std::string>();
    }
    return {};
  };
  const filewriter::WriteResult outcome = filewriter::write(path, bytes, append, cutTo);
  using Kind = filewriter::WriteResult::Kind;
  switch (outcome.kind) {
    case Kind::CannotOpen:
      // The person learns why; the page learns that nothing was saved.
      showErrorAlert("Can't save file", outcome.reason);
      break;
    case Kind::NothingWritten:
      if (!outcome.exception.empty()) log().info("Caught Exception: {}", outcome.exception);
      result["error"] = kNothingWritten;
      break;
    case Kind::Failed:
      // Short of space, say: the old file is as it was (a replacement) or
      // holds what the append added.
      log().info("write to {} failed after {} bytes: {}", path, outcome.bytesWritten, outcome.reason);
      result["error"] = outcome.reason;
      result["bytesWritten"] = outcome.bytesWritten;
      break;
    case Kind::Written:
      result["success"] = true;
      result["filePath"] = path;
      result["bytesWritten"] = outcome.bytesWritten;
      if (payload == Payload::Base64) result["base64Code"] = data;
      break;
  }
  EvalJsWithWebView(page_, callback, result);
}

void BinaryFileWriter::writeBinaryToFile(const nlohmann::json& path, const nlohmann::json& data, bool append,
                                         const std::string& callback) {
  streamWrite(path, data, Payload::Bytes, append, callback);
}

void BinaryFileWriter::conveteBase64StirngToFile(const nlohmann::json& path, const nlohmann::json& base64,
                                                 bool append, const std::string& callback) {
  streamWrite(path, base64, Payload::Base64, append, callback);
}

void BinaryFileWriter::writeTextToFileWithTextData(const nlohmann::json& path, const nlohmann::json& text,
                                                   bool append, const std::string& callback) {
  streamWrite(path, text, Payload::Text, append, callback);
}

void BinaryFileWriter::chunkedWrite(const nlohmann::json& argument, Payload payload, const char* method) {
  try {
    if (!argument.is_string()) throw std::invalid_argument("the argument is not a JSON text");
    // File chunks (byte arrays, long base64 texts) are read without a
    // document of every number.
    std::optional<filewriter::ByteArrayParams> fast =
        filewriter::readByteArrayParams(argument.get_ref<const std::string&>());
    if (fast && payload != Payload::Bytes && fast->bytes) fast.reset();
    if (fast && payload == Payload::Bytes && !fast->bytes && fast->params.contains("data")) fast.reset();
    if (fast && log().should_log(spdlog::level::info))
      log().info("jsonObj = {}{}", fast->params.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace).substr(0, 4096),
                 fast->bytes ? " (\"data\": " + std::to_string(fast->bytes->size()) + " bytes)" : "");
    const nlohmann::json params = fast ? std::move(fast->params) : UtilTool::paramsDictionary(argument);
    const std::string callback = UtilTool::callbackName(params);
    const std::string path = textParam(params, "filePath");
    const char* dataKey = payload == Payload::Bytes ? "data" : payload == Payload::Base64 ? "base64String" : "text";
    static const nlohmann::json kNone, kEmptyText = "";
    auto found = params.find(dataKey);
    const nlohmann::json& data = found != params.end() ? *found : payload == Payload::Base64 ? kEmptyText : kNone;
    // base64ToFile always starts from an empty file.
    const int64_t offset = payload == Payload::Base64 ? 0 : offsetParam(params);
    // base64ToFile replaces the whole file, whatever "dataAppend" says.
    const bool appendAsked = boolParam(params, "dataAppend", payload != Payload::Base64);
    const bool append = payload != Payload::Base64 && appendAsked;
    if (offset < 0) throw std::invalid_argument("\"offset\" is negative");
    prepareFolder(path);
    // A replacing write needs no cut: the new content is the whole file.
    streamWrite(path, data, payload, append, callback, fast && fast->bytes ? &*fast->bytes : nullptr,
                append ? std::optional<uint64_t>(static_cast<uint64_t>(offset)) : std::nullopt);
  } catch (const std::exception& e) {
    log().info("{} [Line {}] error = {}", method, __LINE__, e.what());
  }
}

void BinaryFileWriter::writeBinaryArray(const nlohmann::json& argument) {
  chunkedWrite(argument, Payload::Bytes, "-[BinaryFileWriter writeBinaryArray:]");
}

void BinaryFileWriter::base64ToFile(const nlohmann::json& argument) {
  chunkedWrite(argument, Payload::Base64, "-[BinaryFileWriter base64ToFile:]");
}

void BinaryFileWriter::writeTextToFile(const nlohmann::json& argument) {
  chunkedWrite(argument, Payload::Text, "-[BinaryFileWriter writeTextToFile:]");
}

// ---- images ---------------------------------------------------------------------------------

bool BinaryFileWriter::Base64StringToImageFile(const std::string& base64, const std::string& type,
                                               const std::string& target) {
  std::string why;
  const bool ok = imagefiles::writeImage(filewriter::decodeBase64(base64), imagefiles::imageTypeFor(type), target, &why);
  if (!ok) log().info("image not written to {}: {}", target, why);
  return ok;
}

bool BinaryFileWriter::ImageConvertToImageFile(const std::string& source, const std::string& type,
                                               const std::string& target) {
  std::string why;
  const bool ok = imagefiles::convertImageFile(source, imagefiles::imageTypeFor(type), target, &why);
  if (!ok) log().info("image not written to {}: {}", target, why);
  return ok;
}

void BinaryFileWriter::imageAnswer(const nlohmann::json& argument, bool fromBase64, const char* method) {
  try {
    if (!argument.is_string()) throw std::invalid_argument("the argument is not a JSON text");
    const nlohmann::json params = UtilTool::paramsDictionary(argument);
    const std::string callback = UtilTool::callbackName(params);
    const std::string target = textParam(params, "filePath");
    const std::string type = textParam(params, "imageType");
    const std::string source = textParam(params, fromBase64 ? "base64String" : "orgFilePath");
    prepareFolder(target);
    const bool ok = !target.empty() && (fromBase64 ? Base64StringToImageFile(source, type, target)
                                                   : ImageConvertToImageFile(source, type, target));
    EvalJsWithWebView(page_, callback, {{"success", ok}, {"filePath", target}});
  } catch (const std::exception& e) {
    log().info("{} [Line {}] error = {}", method, __LINE__, e.what());
  }
}

void BinaryFileWriter::base64ToImageFile(const nlohmann::json& argument) {
  imageAnswer(argument, true, "-[BinaryFileWriter base64ToImageFile:]");
}

void BinaryFileWriter::imageFileConvertToOthers(const nlohmann::json& argument) {
  imageAnswer(argument, false, "-[BinaryFileWriter imageFileConvertToOthers:]");
}

// ---- text ----------------------------------------------------------------------------------------

std::string BinaryFileWriter::getTextFromFile(const nlohmann::json& argument) {
  constexpr const char* kMethod = "-[BinaryFileWriter getTextFromFile:]";
  try {
    if (!argument.is_string()) throw std::invalid_argument("the argument is not a JSON text");
    const nlohmann::json params = UtilTool::paramsDictionary(argument);
    const std::string callback = UtilTool::callbackName(params);
    const std::string path = textParam(params, "filePath");
    uint64_t encoding = textenc::kUTF8;
    if (auto it = params.find("NSStringEncoding"); it != params.end() && it->is_number())
      encoding = static_cast<uint64_t>(it->get<double>());
    if (params.contains("encode")) encoding = textenc::encodingForName(textParam(params, "encode"));
    if (!boolParam(params, "async", true)) return readText(path, encoding, nullptr).value_or("");
    // The read runs on a worker; only the answer comes back to the main thread.
    std::thread([page = page_, callback, path, encoding]() mutable {
      std::string error;
      auto text = readText(path, encoding, &error);
      nlohmann::json result = {{"success", text.has_value()}, {"error", text ? "" : error}, {"content", text.value_or("")}};
      MainQueue::post([page = std::move(page), callback, result = std::move(result)] {
        EvalJsWithWebView(page, callback, result);
      });
    }).detach();
  } catch (const std::exception& e) {
    log().info("{} [Line {}] error = {}", kMethod, __LINE__, e.what());
  }
  return "";
}

// ---- the script face ---------------------------------------------------------------------------

const ServiceClass& BinaryFileWriter::serviceClass() const {
  // Every method is callable; no field is visible.
  static const ServiceClass cls =
      ServiceClass::Builder<BinaryFileWriter>("BinaryFileWriter")
          .method("writeBinaryArray:", &BinaryFileWriter::writeBinaryArray)
          .method("base64ToFile:", &BinaryFileWriter::base64ToFile)
          .method("writeTextToFile:", &BinaryFileWriter::writeTextToFile)
          .method("base64ToImageFile:", &BinaryFileWriter::base64ToImageFile)
          .method("imageFileConvertToOthers:", &BinaryFileWriter::imageFileConvertToOthers)
          .method("getTextFromFile:", &BinaryFileWriter::getTextFromFile)
          .method("truncateFile:atPosition:", &BinaryFileWriter::truncateFile)
          .method("writeBinaryToFile:withArrayData:append:withCallback:", &BinaryFileWriter::writeBinaryToFile)
          .method("conveteBase64StirngToFile:withBase64String:append:withCallback:",
                  &BinaryFileWriter::conveteBase64StirngToFile)
          .method("writeTextToFile:withTextData:append:withCallback:", &BinaryFileWriter::writeTextToFileWithTextData)
          .method("Base64StringToImageFile:withTargetImageType:withTargetPath:",
                  &BinaryFileWriter::Base64StringToImageFile)
          .method("ImageConvertToImageFile:withTargetImageType:withTargetPath:",
                  &BinaryFileWriter::ImageConvertToImageFile)
          .method("showErrorAlert:additionalInfo:", &BinaryFileWriter::showErrorAlert)
          .scriptNames({
              {"writeBinaryArray:", "writeBinaryArray"},
              {"base64ToFile:", "base64ToFile"},
              {"writeTextToFile:", "writeTextToFile"},
              {"base64ToImageFile:", "base64ToImageFile"},
              {"imageFileConvertToOthers:", "imageFileConvertToOthers"},
              {"getTextFromFile:", "getTextFromFile"},
          })
          .build();
  return cls;
}

}  // namespace corvane
