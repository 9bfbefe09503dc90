// Loads libiqsynth.so at run time and binds the functions iqsynth calls (see
// synthesis_library.h): the library reads its environment when it loads, so loading
// waits until the host has decided what that environment is.
#include "synthesis_library.h"

#include <dlfcn.h>

#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#ifndef IQSYNTH_HOST_LIBDIR
#define IQSYNTH_HOST_LIBDIR "lib"
#endif

namespace arbsuite::iqsynth_host {
namespace {

// By name first, in the loader's ordinary search order, which includes the
// caller's RUNPATH ($ORIGIN/../lib for the program). When a preloaded runtime
// interposes dlopen (a sanitizer runtime, a profiling tool), the loader takes that
// runtime for the caller and never looks at the caller's RUNPATH; the folders the
// RUNPATH stands for are then tried by their full paths, the candidates.
void* openLibrary(const LibraryCandidates& candidates, std::string& failure) {
  if (void* handle = dlopen(kLibraryName, RTLD_NOW | RTLD_LOCAL)) return handle;
  const char* reason = dlerror();
  failure = reason != nullptr ? reason : "not found";
  for (const auto& candidate : candidates) {
    std::error_code error;
    if (!std::filesystem::exists(candidate, error)) continue;
    if (void* handle = dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL)) return handle;
    reason = dlerror();
    failure = reason != nullptr ? reason : candidate.string() + ": cannot be loaded";
  }
  return nullptr;
}

template <typename Fn>
void bind(void* handle, const char* name, Fn& pointer) {
  pointer = reinterpret_cast<Fn>(dlsym(handle, name));
  if (pointer == nullptr) {
    throw LibraryError(std::string("the synthesis library ") + kLibraryName + " has no function " +
                       name + "; it does not belong to this iqsynth");
  }
}

bool loaded = false;

SynthesisLibrary bindLibrary(const LibraryCandidates& candidates) {
  std::string failure;
  void* handle = openLibrary(candidates, failure);
  if (handle == nullptr) {
    throw LibraryError(std::string("cannot load the synthesis library ") + kLibraryName + ": " +
                       failure);
  }
  // The handle stays open for the life of the process: the table points into it.
  SynthesisLibrary library;
  try {
#define IQSYNTH_HOST_BIND(name) bind(handle, #name, library.name);
    IQSYNTH_HOST_FUNCTIONS(IQSYNTH_HOST_BIND)
#undef IQSYNTH_HOST_BIND
  } catch (const LibraryError&) {
    dlclose(handle);
    throw;
  }
  loaded = true;
  return library;
}

}  // namespace

// The program's path comes from /proc/self/exe (dladdr would give argv[0], which a
// PATH search leaves bare).
LibraryCandidates besideTheProgram() {
  std::error_code error;
  const auto program = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error || !program.has_parent_path()) return {};
  const auto prefix = program.parent_path().parent_path();
  LibraryCandidates candidates = {prefix / "lib" / kLibraryName};
  const std::filesystem::path installed = prefix / IQSYNTH_HOST_LIBDIR / kLibraryName;
  if (installed != candidates.front()) candidates.push_back(installed);
  return candidates;
}

const SynthesisLibrary& loadSynthesisLibrary(const LibraryCandidates& candidates) {
  static const SynthesisLibrary library = bindLibrary(candidates);
  return library;
}

bool synthesisLibraryLoaded() { return loaded; }

}  // namespace arbsuite::iqsynth_host
