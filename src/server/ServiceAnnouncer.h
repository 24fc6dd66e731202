#pragma once
// Announces the server on the local network (DNS-SD over multicast DNS) as
// long as the object lives. Used only when the server listens on every
// interface: a loopback-only server has nobody on the network to tell.
#include <cstdint>
#include <string>

struct AvahiClient;
struct AvahiEntryGroup;
struct AvahiThreadedPoll;

namespace corvane::server {

class ServiceAnnouncer {
 public:
  // `type` as configured ("_http._tcp."); the trailing dot of the fully
  // qualified form is dropped for the daemon. Runs on a thread of its own.
  // Without a running daemon this logs one line and does nothing more.
  ServiceAnnouncer(std::string type, uint16_t port);
  ~ServiceAnnouncer();
  ServiceAnnouncer(const ServiceAnnouncer&) = delete;
  ServiceAnnouncer& operator=(const ServiceAnnouncer&) = delete;

  bool active() const { return client_ != nullptr; }

 private:
  static void onClientState(AvahiClient* client, int state, void* self);
  static void onGroupState(AvahiEntryGroup* group, int state, void* self);
  void publish(AvahiClient* client);
  void renameAfterCollision();

  std::string type_;
  std::string name_;
  uint16_t port_;
  AvahiThreadedPoll* poll_ = nullptr;
  AvahiClient* client_ = nullptr;
  AvahiEntryGroup* group_ = nullptr;
};

}  // namespace corvane::server
