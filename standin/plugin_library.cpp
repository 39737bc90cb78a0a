#include <stdexcept>

#include "standin/host.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace standin {

#if defined(_WIN32)

PluginLibrary::PluginLibrary(const std::string& path) : path_(path) {
  HMODULE module = LoadLibraryA(path.c_str());
  if (module == nullptr) {
    const std::string why = "Windows error " + std::to_string(GetLastError());
    throw PluginLoadError(PluginLoadError::Kind::CannotOpen,
                          "cannot load the plug-in " + path + " (" + why +
                              "); check the path and that it is a 64-bit Windows plug-in",
                          why);
  }
  handle_ = module;
  entry_ = reinterpret_cast<PF_EntryPointFunc>(
      reinterpret_cast<void*>(GetProcAddress(module, "EntryPointFunc")));
  if (entry_ == nullptr) {
    FreeLibrary(module);
    throw PluginLoadError(PluginLoadError::Kind::NoEntryPoint,
                          "the plug-in " + path + " exports no EntryPointFunc");
  }
}

PluginLibrary::~PluginLibrary() { FreeLibrary(static_cast<HMODULE>(handle_)); }

#else

PluginLibrary::PluginLibrary(const std::string& path) : path_(path) {
  handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle_ == nullptr) {
    const char* error = dlerror();
    const std::string why = error != nullptr ? error : "unknown";
    throw PluginLoadError(PluginLoadError::Kind::CannotOpen,
                          "cannot load the plug-in " + path + ": " + why +
                              "; check the path, or build the plug-in first",
                          why);
  }
  entry_ = reinterpret_cast<PF_EntryPointFunc>(dlsym(handle_, "EntryPointFunc"));
  if (entry_ == nullptr) {
    dlclose(handle_);
    throw PluginLoadError(PluginLoadError::Kind::NoEntryPoint,
                          "the plug-in " + path + " exports no EntryPointFunc");
  }
  // Optional: a plug-in without it renders on its own choice of threads.
  entryWithThreads_ = reinterpret_cast<tilvane::TilvaneEntryWithThreadsFunc>(
      dlsym(handle_, tilvane::kEntryWithThreadsName));
}

PluginLibrary::~PluginLibrary() { dlclose(handle_); }

#endif

}  // namespace standin
