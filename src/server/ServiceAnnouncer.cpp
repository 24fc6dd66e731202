#include "server/ServiceAnnouncer.h"

#include "app/Log.h"
#include "app/SystemLibrary.h"

#include <avahi-client/client.h>
#include <avahi-client/publish.h>
#include <avahi-common/alternative.h>
#include <avahi-common/error.h>
#include <avahi-common/malloc.h>
#include <avahi-common/thread-watch.h>

#include <unistd.h>

#include <climits>
#include <optional>
#include <string>
#include <utility>

namespace corvane::server {

namespace {

// The announcement library, opened when a server first announces itself
// rather than at every start (see app/SystemLibrary); its dependency,
// avahi-common, comes with it.
struct AvahiApi {
  decltype(&::avahi_alternative_service_name) alternative_service_name;
  decltype(&::avahi_client_errno) client_errno;
  decltype(&::avahi_client_free) client_free;
  decltype(&::avahi_client_new) client_new;
  decltype(&::avahi_entry_group_add_service) entry_group_add_service;
  decltype(&::avahi_entry_group_commit) entry_group_commit;
  decltype(&::avahi_entry_group_free) entry_group_free;
  decltype(&::avahi_entry_group_get_client) entry_group_get_client;
  decltype(&::avahi_entry_group_new) entry_group_new;
  decltype(&::avahi_entry_group_reset) entry_group_reset;
  decltype(&::avahi_free) free;
  decltype(&::avahi_strerror) strerror;
  decltype(&::avahi_threaded_poll_free) threaded_poll_free;
  decltype(&::avahi_threaded_poll_get) threaded_poll_get;
  decltype(&::avahi_threaded_poll_new) threaded_poll_new;
  decltype(&::avahi_threaded_poll_start) threaded_poll_start;
  decltype(&::avahi_threaded_poll_stop) threaded_poll_stop;
};

const AvahiApi* loadAvahi(std::string* why) {
  static const auto loaded = []() -> std::pair<std::optional<AvahiApi>, std::string> {
    std::string reason;
    AvahiApi a{};
    const SystemLibrary lib("libavahi-client.so.3", &reason);
    const bool ok = lib.loaded() &&
           lib.resolve("avahi_alternative_service_name", a.alternative_service_name, &reason) &&
           lib.resolve("avahi_client_errno", a.client_errno, &reason) &&
           lib.resolve("avahi_client_free", a.client_free, &reason) &&
           lib.resolve("avahi_client_new", a.client_new, &reason) &&
           lib.resolve("avahi_entry_group_add_service", a.entry_group_add_service, &reason) &&
           lib.resolve("avahi_entry_group_commit", a.entry_group_commit, &reason) &&
           lib.resolve("avahi_entry_group_free", a.entry_group_free, &reason) &&
           lib.resolve("avahi_entry_group_get_client", a.entry_group_get_client, &reason) &&
           lib.resolve("avahi_entry_group_new", a.entry_group_new, &reason) &&
           lib.resolve("avahi_entry_group_reset", a.entry_group_reset, &reason) &&
           lib.resolve("avahi_free", a.free, &reason) &&
           lib.resolve("avahi_strerror", a.strerror, &reason) &&
           lib.resolve("avahi_threaded_poll_free", a.threaded_poll_free, &reason) &&
           lib.resolve("avahi_threaded_poll_get", a.threaded_poll_get, &reason) &&
           lib.resolve("avahi_threaded_poll_new", a.threaded_poll_new, &reason) &&
           lib.resolve("avahi_threaded_poll_start", a.threaded_poll_start, &reason) &&
           lib.resolve("avahi_threaded_poll_stop", a.threaded_poll_stop, &reason);
    return {ok ? std::optional<AvahiApi>(a) : std::nullopt, reason};
  }();
  if (!loaded.first && why) *why = loaded.second;
  return loaded.first ? &*loaded.first : nullptr;
}

const AvahiApi& avahi() { return *loadAvahi(nullptr); }

}  // namespace


ServiceAnnouncer::ServiceAnnouncer(std::string type, uint16_t port)
    : type_(std::move(type)), port_(port) {
  while (!type_.empty() && type_.back() == '.') type_.pop_back();
  // The computer's name, as the announcement's default instance name.
  char host[HOST_NAME_MAX + 1] = {};
  name_ = ::gethostname(host, sizeof host - 1) == 0 && host[0] ? host : "localhost";
  std::string why;
  if (!loadAvahi(&why)) {
    log().info("local network announcement of {} unavailable ({}); serving without it", type_, why);
    return;
  }
  poll_ = avahi().threaded_poll_new();
  if (!poll_) {
    log().info("local network announcement of {} unavailable; serving without it", type_);
    return;
  }
  int error = 0;
  // The callbacks run on the poll's thread once it starts; the client is
  // made before, so no lock is needed for it here.
  client_ = avahi().client_new(avahi().threaded_poll_get(poll_), AvahiClientFlags(0),
                             [](AvahiClient* c, AvahiClientState s, void* self) {
                               onClientState(c, static_cast<int>(s), self);
                             },
                             this, &error);
  if (!client_) {
    log().info("local network announcement of {} unavailable ({}); serving without it",
               type_, avahi().strerror(error));
    return;
  }
  avahi().threaded_poll_start(poll_);
}

ServiceAnnouncer::~ServiceAnnouncer() {
  if (poll_) avahi().threaded_poll_stop(poll_);
  if (group_) avahi().entry_group_free(group_);
  if (client_) avahi().client_free(client_);
  if (poll_) avahi().threaded_poll_free(poll_);
}

void ServiceAnnouncer::onClientState(AvahiClient* client, int state, void* data) {
  auto* self = static_cast<ServiceAnnouncer*>(data);
  switch (state) {
    case AVAHI_CLIENT_S_RUNNING:
      self->publish(client);
      break;
    case AVAHI_CLIENT_S_COLLISION:
    case AVAHI_CLIENT_S_REGISTERING:
      if (self->group_) avahi().entry_group_reset(self->group_);
      break;
    case AVAHI_CLIENT_FAILURE:
      log().info("local network announcement stopped: {}",
                 avahi().strerror(avahi().client_errno(client)));
      break;
    default:
      break;
  }
}

void ServiceAnnouncer::onGroupState(AvahiEntryGroup* group, int state, void* data) {
  auto* self = static_cast<ServiceAnnouncer*>(data);
  if (state == AVAHI_ENTRY_GROUP_ESTABLISHED) {
    log().info("announced {} as \"{}\" on port {}", self->type_, self->name_, self->port_);
  } else if (state == AVAHI_ENTRY_GROUP_COLLISION) {
    self->renameAfterCollision();
    self->publish(avahi().entry_group_get_client(group));
  } else if (state == AVAHI_ENTRY_GROUP_FAILURE) {
    log().info("local network announcement failed: {}",
               avahi().strerror(avahi().client_errno(avahi().entry_group_get_client(group))));
  }
}

void ServiceAnnouncer::renameAfterCollision() {
  char* next = avahi().alternative_service_name(name_.c_str());
  name_ = next;
  avahi().free(next);
}

void ServiceAnnouncer::publish(AvahiClient* client) {
  if (!group_) {
    group_ = avahi().entry_group_new(
        client,
        [](AvahiEntryGroup* g, AvahiEntryGroupState s, void* self) {
          onGroupState(g, static_cast<int>(s), self);
        },
        this);
    if (!group_) {
      log().info("local network announcement failed: {}",
                 avahi().strerror(avahi().client_errno(client)));
      return;
    }
  } else {
    avahi().entry_group_reset(group_);
  }
  for (int attempt = 0; attempt < 10; ++attempt) {
    const int rc = avahi().entry_group_add_service(group_, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC,
                                                 AvahiPublishFlags(0), name_.c_str(),
                                                 type_.c_str(), nullptr, nullptr, port_, nullptr);
    if (rc == AVAHI_ERR_COLLISION) {
      renameAfterCollision();
      continue;
    }
    const int committed = rc < 0 ? rc : avahi().entry_group_commit(group_);
    if (committed < 0) {
      log().info("local network announcement failed: {}", avahi().strerror(committed));
    }
    return;
  }
}

}  // namespace corvane::server
