#pragma once
// A system library opened the first time a feature needs it rather than by
// the dynamic loader at process start: every library linked into the shell
// is loaded and relocated before the window can come up, so what only
// server mode or the network announcement uses is opened here instead.
#include <string>

namespace corvane {

class SystemLibrary {
 public:
  // Opens `soname` (e.g. "libmicrohttpd.so.12") through the loader's search
  // path; an empty `why` on success. The library stays loaded for the life
  // of the process: the libraries opened here are not made to be unloaded.
  SystemLibrary(const char* soname, std::string* why);

  bool loaded() const { return handle_ != nullptr; }

  // Sets `fn` to the library's function `name`; false (with the reason
  // appended to `why`) when the library or the function is missing.
  template <class F>
  bool resolve(const char* name, F*& fn, std::string* why) const {
    fn = reinterpret_cast<F*>(symbol(name, why));
    return fn != nullptr;
  }

 private:
  void* symbol(const char* name, std::string* why) const;

  void* handle_ = nullptr;
  std::string soname_;
};

}  // namespace corvane
