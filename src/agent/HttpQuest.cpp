#include "agent/HttpQuest.h"

#include <cstdlib>
#include <memory>

namespace corvane::agent {
namespace {

// One fetch in progress. It owns itself: freed after `done` has run.
struct Quest {
  SoupSession* session = nullptr;
  SoupMessage* message = nullptr;
  GInputStream* body = nullptr;
  GCancellable* cancel = g_cancellable_new();
  unsigned timer = 0;
  QuestLimits limits;
  std::string data;
  bool timedOut = false;
  bool tooLarge = false;
  std::function<void(const QuestOutcome&)> done;

  ~Quest() {
    if (timer) g_source_remove(timer);
    if (body) g_object_unref(body);
    if (message) g_object_unref(message);
    g_object_unref(cancel);
  }

  void finish(QuestOutcome outcome) {
    outcome.info = validText(data);
    done(outcome);
    delete this;
  }
  void fail(const std::string& why) {
    QuestOutcome o;
    o.error = why;
    done(o);
    delete this;
  }
  void failWith(GError* error) {
    // The session's own I/O time-out is the same limit, met first.
    if (g_error_matches(error, G_IO_ERROR, G_IO_ERROR_TIMED_OUT)) timedOut = true;
    std::string why = timedOut    ? "no answer within " + std::to_string(limits.seconds) + " s"
                      : tooLarge ? "the answer is larger than " + std::to_string(limits.maxBytes) + " bytes"
                                 : error->message;
    g_error_free(error);
    fail(why);
  }

  static std::string validText(const std::string& bytes) {
    gchar* valid = g_utf8_make_valid(bytes.data(), static_cast<gssize>(bytes.size()));
    std::string out(valid);
    g_free(valid);
    return out;
  }

  void readMore() {
    g_input_stream_read_bytes_async(body, 64 * 1024, G_PRIORITY_DEFAULT, cancel, &Quest::onRead, this);
  }

  static void onSent(GObject* source, GAsyncResult* result, void* raw) {
    auto* q = static_cast<Quest*>(raw);
    GError* error = nullptr;
    q->body = soup_session_send_finish(SOUP_SESSION(source), result, &error);
    if (!q->body) return q->failWith(error);
    const goffset length = soup_message_headers_get_content_length(soup_message_get_response_headers(q->message));
    if (length > 0 && static_cast<uint64_t>(length) > q->limits.maxBytes) {
      q->tooLarge = true;
      g_cancellable_cancel(q->cancel);
      return q->fail("the answer is larger than " + std::to_string(q->limits.maxBytes) + " bytes");
    }
    q->readMore();
  }

  static void onRead(GObject* source, GAsyncResult* result, void* raw) {
    auto* q = static_cast<Quest*>(raw);
    GError* error = nullptr;
    GBytes* chunk = g_input_stream_read_bytes_finish(G_INPUT_STREAM(source), result, &error);
    if (!chunk) return q->failWith(error);
    gsize size = 0;
    const auto* bytes = static_cast<const char*>(g_bytes_get_data(chunk, &size));
    if (size == 0) {
      g_bytes_unref(chunk);
      const int status = static_cast<int>(soup_message_get_status(q->message));
      QuestOutcome o;
      o.status = status;
      o.success = SOUP_STATUS_IS_SUCCESSFUL(status);
      if (!o.success) o.error = "HTTP status " + std::to_string(status);
      return q->finish(std::move(o));
    }
    if (q->data.size() + size > q->limits.maxBytes) {
      g_bytes_unref(chunk);
      q->tooLarge = true;
      g_cancellable_cancel(q->cancel);
      return q->fail("the answer is larger than " + std::to_string(q->limits.maxBytes) + " bytes");
    }
    q->data.append(bytes, size);
    g_bytes_unref(chunk);
    q->readMore();
  }
};

uint64_t envNumber(const char* name, uint64_t fallback) {
  const char* text = std::getenv(name);
  if (!text || !*text) return fallback;
  char* end = nullptr;
  const unsigned long long n = std::strtoull(text, &end, 10);
  return (end && *end == '\0' && n > 0) ? n : fallback;
}

}  // namespace

QuestLimits limitsFromEnvironment() {
  QuestLimits limits;
  limits.seconds = static_cast<unsigned>(envNumber("CORVANE_AGENT_HTTP_TIMEOUT", limits.seconds));
  limits.maxBytes = envNumber("CORVANE_AGENT_HTTP_MAX_BYTES", limits.maxBytes);
  return limits;
}

void httpQuest(SoupSession* session, const std::string& url, const QuestLimits& limits,
               std::function<void(const QuestOutcome&)> done) {
  auto fail = [&](const std::string& why) {
    QuestOutcome o;
    o.error = why;
    done(o);
  };
  GUri* uri = g_uri_parse(url.c_str(), static_cast<GUriFlags>(SOUP_HTTP_URI_FLAGS), nullptr);
  const char* scheme = uri ? g_uri_get_scheme(uri) : nullptr;
  const char* host = uri ? g_uri_get_host(uri) : nullptr;
  if (!uri || !scheme || (g_ascii_strcasecmp(scheme, "http") != 0 && g_ascii_strcasecmp(scheme, "https") != 0) ||
      !host || !*host) {
    if (uri) g_uri_unref(uri);
    return fail("not an http or https address: " + url);
  }
  auto* q = new Quest();
  q->session = session;
  q->limits = limits;
  q->done = std::move(done);
  q->message = soup_message_new_from_uri(SOUP_METHOD_GET, uri);
  g_uri_unref(uri);
  q->timer = g_timeout_add_seconds(limits.seconds, [](void* raw) -> gboolean {
    auto* quest = static_cast<Quest*>(raw);
    quest->timer = 0;
    quest->timedOut = true;
    g_cancellable_cancel(quest->cancel);
    return G_SOURCE_REMOVE;
  }, q);
  soup_session_send_async(session, q->message, G_PRIORITY_DEFAULT, q->cancel, &Quest::onSent, q);
}

}  // namespace corvane::agent
