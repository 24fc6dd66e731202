#include "server/MicroHttpd.h"

#include "app/SystemLibrary.h"

#include <cstdlib>
#include <optional>
#include <utility>

#ifndef CORVANE_MICROHTTPD_SONAME
#define CORVANE_MICROHTTPD_SONAME "libmicrohttpd.so.12"
#endif

namespace corvane {

const MicroHttpd* loadMicroHttpd(std::string* why) {
  static const auto loaded = []() -> std::pair<std::optional<MicroHttpd>, std::string> {
    std::string reason;
    MicroHttpd f{};
    const SystemLibrary lib(CORVANE_MICROHTTPD_SONAME, &reason);
    const bool ok = lib.loaded() && lib.resolve("MHD_start_daemon", f.start_daemon, &reason) &&
                    lib.resolve("MHD_stop_daemon", f.stop_daemon, &reason) &&
                    lib.resolve("MHD_add_connection", f.add_connection, &reason) &&
                    lib.resolve("MHD_suspend_connection", f.suspend_connection, &reason) &&
                    lib.resolve("MHD_resume_connection", f.resume_connection, &reason) &&
                    lib.resolve("MHD_get_connection_values", f.get_connection_values, &reason) &&
                    lib.resolve("MHD_lookup_connection_value", f.lookup_connection_value, &reason) &&
                    lib.resolve("MHD_create_response_from_buffer", f.create_response_from_buffer, &reason) &&
                    lib.resolve("MHD_create_response_from_buffer_with_free_callback",
                                f.create_response_from_buffer_with_free_callback, &reason) &&
                    lib.resolve("MHD_create_response_from_fd_at_offset64",
                                f.create_response_from_fd_at_offset64, &reason) &&
                    lib.resolve("MHD_set_response_options", f.set_response_options, &reason) &&
                    lib.resolve("MHD_add_response_header", f.add_response_header, &reason) &&
                    lib.resolve("MHD_queue_response", f.queue_response, &reason) &&
                    lib.resolve("MHD_destroy_response", f.destroy_response, &reason);
    return {ok ? std::optional<MicroHttpd>(f) : std::nullopt, "the web server library cannot be used: " + reason};
  }();
  if (!loaded.first && why) *why = loaded.second;
  return loaded.first ? &*loaded.first : nullptr;
}

const MicroHttpd& mhd() {
  const MicroHttpd* f = loadMicroHttpd();
  if (!f) std::abort();  // a server runs only after loadMicroHttpd() succeeded
  return *f;
}

}  // namespace corvane
