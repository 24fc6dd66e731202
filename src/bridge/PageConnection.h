#pragma once
// The UI-process end of one page's private connection: a peer-to-peer
// D-Bus connection for control and one-way traffic, and the framed channel
// on which the page's synchronous calls arrive. Both sockets come from the
// web process as the two ends of socket pairs it made; nothing else can
// reach them.
#include "bridge/FrameChannel.h"

#include <gio/gio.h>

#include <memory>
#include <string>
#include <vector>

namespace corvane {

class ServiceClass;
class ServiceObject;
class WebViewDelegate;

class PageConnection {
 public:
  // Takes ownership of both descriptors. Check ok() afterwards.
  PageConnection(WebViewDelegate& root, int busFd, int syncFd);
  ~PageConnection();
  PageConnection(const PageConnection&) = delete;
  PageConnection& operator=(const PageConnection&) = delete;

  bool ok() const { return dbus_ != nullptr; }
  // The reply under construction while a page call is being served.
  bridge::Reply* currentReply() { return calls_.empty() ? nullptr : calls_.back(); }

  void sendEvaluate(const std::string& script);
  void sendCallFunction(uint64_t handle, const std::string& argsJson);
  void sendReleaseFunction(uint64_t handle);
  void flush();

 private:
  static gboolean onReadable(gint fd, GIOCondition condition, gpointer self);
  bool serveAvailable();
  void serve(const bridge::Frame& frame);
  void sendReleases();
  void serveCall(const bridge::Frame& frame, bridge::Reply& reply);
  void serveField(const bridge::Frame& frame, bridge::Reply& reply);
  // The object of a request when it is alive and of class `cls`; throws
  // ScriptTypeError otherwise.
  ServiceObject& receiver(uint32_t object, const ServiceClass& cls, const std::string& member);

  WebViewDelegate& root_;
  GDBusConnection* dbus_ = nullptr;
  guint hostRegistration_ = 0;
  std::unique_ptr<bridge::FrameChannel> channel_;
  bridge::Frame frame_;  // the frame being served; its memory serves the next
  GSource* source_ = nullptr;
  std::vector<bridge::Reply*> calls_;
  bool closed_ = false;
  // Function handles released since the last ReleaseFunctions message.
  std::vector<uint64_t> releases_;
  guint releaseIdle_ = 0;
  static constexpr size_t kReleaseBatch = 4096;
};

}  // namespace corvane
