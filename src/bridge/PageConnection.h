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

class PageScript;
class ServiceClass;
class ServiceObject;
class WebViewDelegate;

// Shared: a call being served keeps its connection alive while it waits
// (a dialog, an alert, a long copy), even when the page goes away meanwhile
// and the root takes a new connection.
class PageConnection : public std::enable_shared_from_this<PageConnection> {
 public:
  // Takes ownership of both descriptors. Check ok() afterwards.
  PageConnection(WebViewDelegate& root, int busFd, int syncFd);
  ~PageConnection();
  PageConnection(const PageConnection&) = delete;
  PageConnection& operator=(const PageConnection&) = delete;

  bool ok() const { return dbus_ != nullptr; }
  // Becomes the connection of `page`, which answers this page's number.
  void attachTo(const std::shared_ptr<PageScript>& page);
  // The page is gone: nothing more is served or sent, and the answers of
  // calls still being served are dropped. The socket stays reserved until
  // the connection is destroyed, so no other file takes its number while a
  // call still holds the connection.
  void close();
  bool closed() const { return closed_; }

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
  std::shared_ptr<PageScript> page_;
  uint64_t generation_ = 0;
  bool closed_ = false;
  // Function handles released since the last ReleaseFunctions message.
  std::vector<uint64_t> releases_;
  guint releaseIdle_ = 0;
  static constexpr size_t kReleaseBatch = 4096;
};

}  // namespace corvane
