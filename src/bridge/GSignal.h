#pragma once
// Lambdas as GLib signal handlers: G_CALLBACK is a macro, and lambda bodies
// with commas do not survive macro arguments.
#include <glib-object.h>

namespace corvane {

template <class F>
GCallback signalHandler(F f) {
  return reinterpret_cast<GCallback>(+f);
}

}  // namespace corvane
