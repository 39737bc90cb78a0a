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
    throw std::runtime_error("cannot load the plug-in " + path + " (Windows error " +
                             std::to_string(GetLastError()) +
                             "); check the path and that it is a 64-bit Windows plug-in");
  }
  handle_ = module;
  entry_ = reinterpret_cast<PF_EntryPointFunc>(
      reinterpret_cast<void*>(GetProcAddress(module, "EntryPointFunc")));
  if (entry_ == nullptr) {
    FreeLibrary(module);
    throw std::runtime_error("the plug-in " + path + " exports no EntryPointFunc");
  }
}

PluginLibrary::~PluginLibrary() { FreeLibrary(static_cast<HMODULE>(handle_)); }

#else

PluginLibrary::PluginLibrary(const std::string& path) : path_(path) {
  handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle_ == nullptr) {
    const char* why = dlerror();
    throw std::runtime_error("cannot load the plug-in " + path + ": " + (why ? why : "unknown") +
                             "; check the path, or build the plug-in first");
  }
  entry_ = reinterpret_cast<PF_EntryPointFunc>(dlsym(handle_, "EntryPointFunc"));
  if (entry_ == nullptr) {
    dlclose(handle_);
    throw std::runtime_error("the plug-in " + path + " exports no EntryPointFunc");
  }
}

PluginLibrary::~PluginLibrary() { dlclose(handle_); }

#endif

}  // namespace standin
