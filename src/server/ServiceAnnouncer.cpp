#include "server/ServiceAnnouncer.h"

#include "app/Log.h"

#include <avahi-client/client.h>
#include <avahi-client/publish.h>
#include <avahi-common/alternative.h>
#include <avahi-common/error.h>
#include <avahi-common/malloc.h>
#include <avahi-common/thread-watch.h>

#include <unistd.h>

#include <climits>

namespace corvane::server {

ServiceAnnouncer::ServiceAnnouncer(std::string type, uint16_t port)
    : type_(std::move(type)), port_(port) {
  while (!type_.empty() && type_.back() == '.') type_.pop_back();
  // The computer's name, as the announcement's default instance name.
  char host[HOST_NAME_MAX + 1] = {};
  name_ = ::gethostname(host, sizeof host - 1) == 0 && host[0] ? host : "localhost";
  poll_ = avahi_threaded_poll_new();
  if (!poll_) {
    log().info("local network announcement of {} unavailable; serving without it", type_);
    return;
  }
  int error = 0;
  // The callbacks run on the poll's thread once it starts; the client is
  // made before, so no lock is needed for it here.
  client_ = avahi_client_new(avahi_threaded_poll_get(poll_), AvahiClientFlags(0),
                             [](AvahiClient* c, AvahiClientState s, void* self) {
                               onClientState(c, static_cast<int>(s), self);
                             },
                             this, &error);
  if (!client_) {
    log().info("local network announcement of {} unavailable ({}); serving without it",
               type_, avahi_strerror(error));
    return;
  }
  avahi_threaded_poll_start(poll_);
}

ServiceAnnouncer::~ServiceAnnouncer() {
  if (poll_) avahi_threaded_poll_stop(poll_);
  if (group_) avahi_entry_group_free(group_);
  if (client_) avahi_client_free(client_);
  if (poll_) avahi_threaded_poll_free(poll_);
}

void ServiceAnnouncer::onClientState(AvahiClient* client, int state, void* data) {
  auto* self = static_cast<ServiceAnnouncer*>(data);
  switch (state) {
    case AVAHI_CLIENT_S_RUNNING:
      self->publish(client);
      break;
    case AVAHI_CLIENT_S_COLLISION:
    case AVAHI_CLIENT_S_REGISTERING:
      if (self->group_) avahi_entry_group_reset(self->group_);
      break;
    case AVAHI_CLIENT_FAILURE:
      log().info("local network announcement stopped: {}",
                 avahi_strerror(avahi_client_errno(client)));
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
    self->publish(avahi_entry_group_get_client(group));
  } else if (state == AVAHI_ENTRY_GROUP_FAILURE) {
    log().info("local network announcement failed: {}",
               avahi_strerror(avahi_client_errno(avahi_entry_group_get_client(group))));
  }
}

void ServiceAnnouncer::renameAfterCollision() {
  char* next = avahi_alternative_service_name(name_.c_str());
  name_ = next;
  avahi_free(next);
}

void ServiceAnnouncer::publish(AvahiClient* client) {
  if (!group_) {
    group_ = avahi_entry_group_new(
        client,
        [](AvahiEntryGroup* g, AvahiEntryGroupState s, void* self) {
          onGroupState(g, static_cast<int>(s), self);
        },
        this);
    if (!group_) {
      log().info("local network announcement failed: {}",
                 avahi_strerror(avahi_client_errno(client)));
      return;
    }
  } else {
    avahi_entry_group_reset(group_);
  }
  for (int attempt = 0; attempt < 10; ++attempt) {
    const int rc = avahi_entry_group_add_service(group_, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC,
                                                 AvahiPublishFlags(0), name_.c_str(),
                                                 type_.c_str(), nullptr, nullptr, port_, nullptr);
    if (rc == AVAHI_ERR_COLLISION) {
      renameAfterCollision();
      continue;
    }
    const int committed = rc < 0 ? rc : avahi_entry_group_commit(group_);
    if (committed < 0) {
      log().info("local network announcement failed: {}", avahi_strerror(committed));
    }
    return;
  }
}

}  // namespace corvane::server
