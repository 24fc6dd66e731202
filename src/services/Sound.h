#pragma once
// The `sound` member: sound files from the application's resources and the
// desktop's named sounds (the freedesktop sound theme), played with
// GStreamer, several at once. A page function given with a sound is called
// once, with the sound's name, when the sound has played to its end.
#include "bridge/Command.h"
#include "bridge/ServiceObject.h"

#include <gst/gst.h>

#include <list>
#include <memory>
#include <optional>
#include <string>

namespace corvane {

class CallbackDelegate;

class Sound : public ServiceObject, public Command {
 public:
  explicit Sound(std::shared_ptr<PageScript> context);
  ~Sound() override;
  const ServiceClass& serviceClass() const override;

  void play(const std::string& resourcePath);
  void playSystem(const std::string& name);
  void playWithCB(const std::string& resourcePath, std::shared_ptr<CallbackDelegate> onComplete);
  void playSystemWithCB(const std::string& name, std::shared_ptr<CallbackDelegate> onComplete);
  // One entry per completion still to come: the sound's name, or null for
  // a sound from a file.
  nlohmann::json pending() const;

  // The file of a named sound in the desktop's sound theme, or nothing.
  static std::optional<std::string> pathForSystemSound(const std::string& name);

 private:
  struct Playback;
  void start(const std::string& file, std::optional<std::string> name, std::shared_ptr<CallbackDelegate> onComplete);
  void finished(Playback* playback, bool reachedEnd, bool fromWatch);
  static gboolean onBusMessage(GstBus*, GstMessage*, gpointer);

  std::list<std::unique_ptr<Playback>> playing_;
};

}  // namespace corvane
