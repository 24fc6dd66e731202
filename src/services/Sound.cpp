#include "services/Sound.h"

#include "app/Log.h"
#include "app/Utils.h"
#include "bridge/CallbackDelegate.h"

#include <gtk/gtk.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

namespace corvane {

struct Sound::Playback {
  Sound* owner = nullptr;
  GstElement* pipeline = nullptr;
  guint busWatch = 0;
  std::optional<std::string> name;
  std::shared_ptr<CallbackDelegate> onComplete;  // a pending completion when set
};

namespace {

constexpr int kPlayAudioOnly = 0x2;  // playbin's "flags": audio, no video or text

bool gstReady() {
  static const bool ready = [] {
    GError* error = nullptr;
    if (gst_init_check(nullptr, nullptr, &error)) return true;
    log().error("sound: GStreamer could not start: {}", error ? error->message : "");
    if (error) g_error_free(error);
    return false;
  }();
  return ready;
}

// CORVANE_AUDIO_SINK names another output as a GStreamer description
// (tests use "fakesink sync=true": no device, real timing).
GstElement* audioSink() {
  const char* description = std::getenv("CORVANE_AUDIO_SINK");
  if (!description || !*description) return nullptr;
  GError* error = nullptr;
  GstElement* sink = gst_parse_bin_from_description(description, TRUE, &error);
  if (!sink) {
    log().error("sound: CORVANE_AUDIO_SINK: {}", error ? error->message : "");
    if (error) g_error_free(error);
  }
  return sink;
}

std::string themeName() {
  gchar* name = nullptr;
  if (GtkSettings* s = gtk_settings_get_default()) g_object_get(s, "gtk-sound-theme-name", &name, nullptr);
  std::string out = name && *name ? name : "freedesktop";
  g_free(name);
  return out;
}

}  // namespace

Sound::Sound(std::shared_ptr<PageScript> context) : Command(std::move(context)) {}

Sound::~Sound() {
  for (auto& p : playing_) {
    if (p->busWatch) g_source_remove(p->busWatch);
    gst_element_set_state(p->pipeline, GST_STATE_NULL);
    gst_object_unref(p->pipeline);
  }
}

std::optional<std::string> Sound::pathForSystemSound(const std::string& name) {
  // Names only: nothing that walks out of the theme's folders.
  if (name.empty() || name.find('/') != std::string::npos || name == "." || name == "..") return std::nullopt;
  std::vector<std::string> dirs = {g_get_user_data_dir()};
  for (const gchar* const* d = g_get_system_data_dirs(); d && *d; ++d) dirs.emplace_back(*d);
  std::vector<std::string> themes = {themeName()};
  if (themes.front() != "freedesktop") themes.emplace_back("freedesktop");
  std::error_code ec;
  for (const auto& theme : themes)
    for (const auto& dir : dirs)
      for (const char* sub : {"/stereo/", "/"})
        for (const char* ext : {".oga", ".ogg", ".wav", ""}) {
          const std::string path = dir + "/sounds/" + theme + sub + name + ext;
          if (std::filesystem::is_regular_file(path, ec)) return path;
        }
  return std::nullopt;
}

void Sound::play(const std::string& resourcePath) { playWithCB(resourcePath, nullptr); }
void Sound::playSystem(const std::string& name) { playSystemWithCB(name, nullptr); }

void Sound::playWithCB(const std::string& resourcePath, std::shared_ptr<CallbackDelegate> onComplete) {
  auto file = Utils::sharedInstance().pathForResource(resourcePath);
  if (!file || !std::filesystem::is_regular_file(*file)) return;  // no such sound: nothing plays
  start(*file, std::nullopt, std::move(onComplete));
}

void Sound::playSystemWithCB(const std::string& name, std::shared_ptr<CallbackDelegate> onComplete) {
  auto file = pathForSystemSound(name);
  if (!file) return;
  start(*file, name, std::move(onComplete));
}

void Sound::start(const std::string& file, std::optional<std::string> name,
                  std::shared_ptr<CallbackDelegate> onComplete) {
  if (!gstReady()) return;
  GstElement* pipeline = gst_element_factory_make("playbin", nullptr);
  if (!pipeline) {
    log().error("sound: no playbin element (GStreamer base plug-ins missing)");
    return;
  }
  gchar* uri = g_filename_to_uri(file.c_str(), nullptr, nullptr);
  g_object_set(pipeline, "uri", uri, "flags", kPlayAudioOnly, nullptr);
  g_free(uri);
  if (GstElement* sink = audioSink()) g_object_set(pipeline, "audio-sink", sink, nullptr);

  auto playback = std::make_unique<Playback>();
  playback->owner = this;
  playback->pipeline = pipeline;
  playback->name = std::move(name);
  playback->onComplete = std::move(onComplete);
  GstBus* bus = gst_element_get_bus(pipeline);
  playback->busWatch = gst_bus_add_watch(bus, &Sound::onBusMessage, playback.get());
  gst_object_unref(bus);
  Playback* raw = playback.get();
  playing_.push_back(std::move(playback));
  if (gst_element_set_state(pipeline, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) finished(raw, false, false);
}

gboolean Sound::onBusMessage(GstBus*, GstMessage* message, gpointer data) {
  auto* playback = static_cast<Playback*>(data);
  switch (GST_MESSAGE_TYPE(message)) {
    case GST_MESSAGE_EOS:
      playback->owner->finished(playback, true, true);
      return G_SOURCE_REMOVE;
    case GST_MESSAGE_ERROR: {
      GError* error = nullptr;
      gst_message_parse_error(message, &error, nullptr);
      log().info("sound could not play: {}", error ? error->message : "");
      if (error) g_error_free(error);
      playback->owner->finished(playback, false, true);
      return G_SOURCE_REMOVE;
    }
    default:
      return G_SOURCE_CONTINUE;
  }
}

void Sound::finished(Playback* playback, bool reachedEnd, bool fromWatch) {
  auto it = std::find_if(playing_.begin(), playing_.end(), [playback](const auto& p) { return p.get() == playback; });
  if (it == playing_.end()) return;
  std::unique_ptr<Playback> done = std::move(*it);
  playing_.erase(it);
  // The bus watch ends by its handler's answer; any other path removes it.
  if (!fromWatch && done->busWatch) g_source_remove(done->busWatch);
  done->busWatch = 0;
  gst_element_set_state(done->pipeline, GST_STATE_NULL);
  gst_object_unref(done->pipeline);
  // A sound that could not play never ends: its function is not called.
  if (reachedEnd && done->onComplete)
    done->onComplete->callWithParams({done->name ? nlohmann::json(*done->name) : nlohmann::json(nullptr)});
}

nlohmann::json Sound::pending() const {
  nlohmann::json out = nlohmann::json::array();
  for (const auto& p : playing_)
    if (p->onComplete) out.push_back(p->name ? nlohmann::json(*p->name) : nlohmann::json(nullptr));
  return out;
}

const ServiceClass& Sound::serviceClass() const {
  static const ServiceClass cls = ServiceClass::Builder<Sound>("Sound")
                                      .method("play:", &Sound::play)
                                      .method("playSystem:", &Sound::playSystem)
                                      .method("play:onComplete:", &Sound::playWithCB)
                                      .method("playSystem:onComplete:", &Sound::playSystemWithCB)
                                      .method("pending", &Sound::pending)
                                      .scriptNames({{"play:", "play"},
                                                    {"playSystem:", "playSystem"},
                                                    {"play:onComplete:", "playWithCB"},
                                                    {"playSystem:onComplete:", "playSystemWithCB"}})
                                      .build();
  return cls;
}

}  // namespace corvane
