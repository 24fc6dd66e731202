#include "app/SystemLibrary.h"

#include <dlfcn.h>

namespace corvane {

SystemLibrary::SystemLibrary(const char* soname, std::string* why) : soname_(soname) {
  handle_ = dlopen(soname, RTLD_NOW | RTLD_LOCAL);
  if (!handle_ && why) {
    const char* e = dlerror();
    *why = e ? e : soname_ + " cannot be opened";
  }
}

void* SystemLibrary::symbol(const char* name, std::string* why) const {
  if (!handle_) return nullptr;
  void* found = dlsym(handle_, name);
  if (!found && why) *why += (why->empty() ? "" : "; ") + soname_ + " has no " + name;
  return found;
}

}  // namespace corvane
