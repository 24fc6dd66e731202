#include "RateServer.h"

#include <libsoup/soup.h>

#include <future>
#include <stdexcept>

namespace corvane::test {

RateServer::RateServer() {
  auto* context = g_main_context_new();
  auto* loop = g_main_loop_new(context, FALSE);
  context_ = context;
  loop_ = loop;
  std::promise<int> ready;
  auto port = ready.get_future();
  thread_ = std::thread([this, context, loop, &ready] {
    g_main_context_push_thread_default(context);
    SoupServer* server = soup_server_new(nullptr, nullptr);
    soup_server_add_handler(
        server, nullptr,
        +[](SoupServer*, SoupServerMessage* msg, const char* path, GHashTable*, gpointer d) {
          auto* shared = static_cast<Shared*>(d);
          GUri* uri = soup_server_message_get_uri(msg);
          const char* query = g_uri_get_query(uri);
          std::lock_guard<std::mutex> lock(shared->mutex);
          shared->requests.push_back(std::string(path) + (query ? std::string("?") + query : std::string()));
          soup_server_message_set_status(msg, shared->status, nullptr);
          soup_server_message_set_response(msg, "application/json", SOUP_MEMORY_COPY, shared->body.data(),
                                           shared->body.size());
        },
        &shared_, nullptr);
    GError* error = nullptr;
    int chosen = 0;
    if (soup_server_listen_local(server, 0, SOUP_SERVER_LISTEN_IPV4_ONLY, &error)) {
      GSList* uris = soup_server_get_uris(server);
      if (uris) chosen = g_uri_get_port(static_cast<GUri*>(uris->data));
      g_slist_free_full(uris, reinterpret_cast<GDestroyNotify>(g_uri_unref));
    }
    g_clear_error(&error);
    ready.set_value(chosen);
    if (chosen) g_main_loop_run(loop);
    soup_server_disconnect(server);
    g_object_unref(server);
    g_main_context_pop_thread_default(context);
  });
  port_ = port.get();
  if (!port_) {
    thread_.join();
    throw std::runtime_error("the rate test server cannot listen");
  }
}

RateServer::~RateServer() {
  auto* loop = static_cast<GMainLoop*>(loop_);
  g_main_context_invoke(
      static_cast<GMainContext*>(context_),
      +[](gpointer l) -> gboolean {
        g_main_loop_quit(static_cast<GMainLoop*>(l));
        return G_SOURCE_REMOVE;
      },
      loop);
  if (thread_.joinable()) thread_.join();
  g_main_loop_unref(loop);
  g_main_context_unref(static_cast<GMainContext*>(context_));
}

void RateServer::answer(std::string body, unsigned status) {
  std::lock_guard<std::mutex> lock(shared_.mutex);
  shared_.body = std::move(body);
  shared_.status = status;
}

std::vector<std::string> RateServer::requests() const {
  std::lock_guard<std::mutex> lock(shared_.mutex);
  return shared_.requests;
}

}  // namespace corvane::test
