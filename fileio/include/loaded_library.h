// Libraries that only some of a program's work needs, loaded by name when that work
// starts rather than linked: every linked library, and every library behind it, is
// mapped and relocated at each start. libmatio (with HDF5, curl, GnuTLS and Kerberos
// behind it) and libsndfile made each conversion start some 10 ms later, a CSV or raw
// one too; PLplot (with freetype, qhull and eight more) and FFTW, 3 ms of every
// arbtool start, a join or a dump too.
#pragma once

#include <dlfcn.h>

#include <stdexcept>
#include <string>

namespace arbsuite::arb {

// One library, loaded once for the process and kept: its functions are looked up by
// the names of its own header, whose declarations give their types.
class LoadedLibrary {
 public:
  // soname: the library's file name as the loader finds it (libsndfile.so.1); what:
  // what it is needed for, for the message when it cannot be loaded.
  LoadedLibrary(const char* soname, const char* what)
      : soname_(soname), handle_(::dlopen(soname, RTLD_NOW | RTLD_LOCAL)) {
    if (handle_ == nullptr) {
      const char* reason = ::dlerror();
      throw std::runtime_error(std::string("cannot load ") + soname + ", which " + what + ": " +
                               (reason != nullptr ? reason : "unknown reason"));
    }
  }
  LoadedLibrary(const LoadedLibrary&) = delete;
  LoadedLibrary& operator=(const LoadedLibrary&) = delete;

  // The function `name` with the type of the header's declaration, e.g.
  // function<decltype(&sf_close)>("sf_close").
  template <typename Fn>
  Fn function(const char* name) const {
    void* address = ::dlsym(handle_, name);
    if (address == nullptr)
      throw std::runtime_error(std::string(soname_) + " has no function " + name);
    return reinterpret_cast<Fn>(address);
  }

 private:
  const char* soname_;
  void* handle_;
};

}  // namespace arbsuite::arb
