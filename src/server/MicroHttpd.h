#pragma once
// The HTTP library's functions, opened on first use (see app/SystemLibrary):
// only server mode needs them, so a file-mode start loads neither the
// library nor its TLS stack. The header gives types and constants only;
// every call goes through mhd().
#include <microhttpd.h>

#include <string>

namespace corvane {

struct MicroHttpd {
  decltype(&MHD_start_daemon) start_daemon;
  decltype(&MHD_stop_daemon) stop_daemon;
  decltype(&MHD_add_connection) add_connection;
  decltype(&MHD_suspend_connection) suspend_connection;
  decltype(&MHD_resume_connection) resume_connection;
  decltype(&MHD_get_connection_values) get_connection_values;
  decltype(&MHD_lookup_connection_value) lookup_connection_value;
  decltype(&MHD_create_response_from_buffer) create_response_from_buffer;
  decltype(&MHD_create_response_from_buffer_with_free_callback) create_response_from_buffer_with_free_callback;
  decltype(&MHD_create_response_from_fd_at_offset64) create_response_from_fd_at_offset64;
  decltype(&MHD_set_response_options) set_response_options;
  decltype(&MHD_add_response_header) add_response_header;
  decltype(&MHD_queue_response) queue_response;
  decltype(&MHD_destroy_response) destroy_response;
};

// Opens the library once; nullptr, with the reason in `why`, when it or one
// of its functions is missing. Safe from any thread.
const MicroHttpd* loadMicroHttpd(std::string* why = nullptr);

// The opened library. Only for code that runs once a server has started,
// which loadMicroHttpd() succeeded for.
const MicroHttpd& mhd();

}  // namespace corvane
