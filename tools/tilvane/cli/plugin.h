// The plug-in the tool drives: found beside the tool or named by --plugin,
// loaded before the command line is parsed, since the controls offered are
// the ones it registers.
#pragma once

#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "standin/host.h"

namespace tilvane_tool {

// The plug-in as loaded, with its registered table; a failure is kept to be
// reported when a command needs the plug-in (help works without it).
struct LoadedPlugin {
  std::string path;
  std::unique_ptr<standin::PluginLibrary> library;
  std::unique_ptr<standin::Host> host;  // global and parameter set-up done
  std::exception_ptr failure;

  void require() const {
    if (failure) std::rethrow_exception(failure);
  }
  const std::vector<standin::RegisteredParam>& table() const;
  // The effect's packed version; 0 when it did not load.
  unsigned packedVersion() const { return host ? host->outData().my_version : 0; }
};

// Loads the plug-in --plugin names among the arguments, else the one next to
// this executable. Never throws: a failure is kept in the result.
LoadedPlugin LoadPlugin(int argc, char** argv);

}  // namespace tilvane_tool
