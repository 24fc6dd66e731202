#pragma once
// The `binaryFileWriter` member: files whose content the page made (byte
// arrays, base64, text), written whole or in chunks with offsets; images
// from base64 or another image file in eight formats; text files read in a
// chosen encoding, at once or on a worker thread. The platform-free work is
// in services/FileWriter, services/ImageFiles and services/TextEncodings.
#include "bridge/PageScript.h"
#include "bridge/ServiceObject.h"

#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace corvane {

class BinaryFileWriter : public ServiceObject {
 public:
  // initWithWebView: the page's script door and its web view (for the
  // alert's parent window).
  BinaryFileWriter(std::shared_ptr<PageScript> page, WebKitWebView* webView);
  ~BinaryFileWriter() override;
  const ServiceClass& serviceClass() const override;

  // ---- script methods (one JSON text each) ------------------------------------
  void writeBinaryArray(const nlohmann::json& argument);
  void base64ToFile(const nlohmann::json& argument);
  void writeTextToFile(const nlohmann::json& argument);
  void base64ToImageFile(const nlohmann::json& argument);
  void imageFileConvertToOthers(const nlohmann::json& argument);
  std::string getTextFromFile(const nlohmann::json& argument);

  // ---- inner operations (scripts reach them under their default names) ----------
  double truncateFile(const std::string& path, double length);
  void writeBinaryToFile(const nlohmann::json& path, const nlohmann::json& data, bool append,
                         const std::string& callback);
  void conveteBase64StirngToFile(const nlohmann::json& path, const nlohmann::json& base64, bool append,
                                 const std::string& callback);
  void writeTextToFileWithTextData(const nlohmann::json& path, const nlohmann::json& text, bool append,
                                   const std::string& callback);
  bool Base64StringToImageFile(const std::string& base64, const std::string& type, const std::string& target);
  bool ImageConvertToImageFile(const std::string& source, const std::string& type, const std::string& target);
  void showErrorAlert(const std::string& message, const std::string& info);

 private:
  enum class Payload { Bytes, Base64, Text };
  // The write shared by the three writers, with its answer. `prebuilt`:
  // the bytes when the argument reader already made them; `cutTo`: the
  // length an append starts from.
  void streamWrite(const nlohmann::json& path, const nlohmann::json& data, Payload payload, bool append,
                   const std::string& callback, const std::string* prebuilt = nullptr,
                   std::optional<uint64_t> cutTo = std::nullopt);
  // Reads the params, prepares the folder and the cut, and writes.
  void chunkedWrite(const nlohmann::json& argument, Payload payload, const char* method);
  void imageAnswer(const nlohmann::json& argument, bool fromBase64, const char* method);

  std::shared_ptr<PageScript> page_;
  WebKitWebView* webView_ = nullptr;  // weak
  GtkWidget* errorAlert_ = nullptr;   // while it is shown
};

}  // namespace corvane
