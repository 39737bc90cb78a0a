// Settings files: a render's options and controls as JSON, saved with
// --save-settings and read back with --settings. The keys are the options'
// own names without their dashes, so a file reads like the command line:
//   {
//     "tool": "tilvane 1.0.0",
//     "effect": {"name": "Tilvane", "version": "1.0.0 (release, build 1; packed 0x...)"},
//     "render": {"icon": "icon.png", "size": "1920x1080", "depth": 8, "quality": null, ...},
//     "controls": {"units": 8, "displacement-effect": "rotation", "border": false, ...}
//   }
// null stands for a default that is no value ("by the file's kind"). Options
// given on the command line override the file.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tools/tilvane/job/controls.h"

namespace tilvane_tool {

// The render options a settings file may hold, without dashes. Options about
// this run alone (--threads, --quiet, --no-overwrite, --plugin and the
// settings options themselves) are not among them.
const std::vector<std::string>& SettingsRenderKeys();

// A settings file turned into command-line arguments.
struct LoadedSettings {
  std::string path;
  std::vector<std::string> args;            // "--units", "8", "--border", ...
  std::map<std::string, std::string> keys;  // "--units" -> "controls.units"

  // A message about an option the file set (it starts with the option's name)
  // gets the file and the key in front; others pass unchanged.
  std::string explain(const std::string& message) const;
};

// Reads the file. Unknown sections and keys are refused with the nearest
// name, values of the wrong JSON type with the type wanted; the values
// themselves are checked where the command line's are, and explain() names
// the key then. Options given on the command line (`given`, with dashes)
// are left out, so that they win. A file saved with another version of the
// effect than effectVersion ("" unknown) gets a warning. Throws UsageError.
LoadedSettings LoadSettings(const std::string& path, const std::vector<ControlOption>& controls,
                            const std::vector<std::string>& given,
                            const std::string& effectVersion);

// The words of the command line with the file of a render's --settings read
// into them just after the command, so that the options given on the command
// line, which come after, win. `loaded` keeps what the file set.
std::vector<std::string> WithSettings(std::vector<std::string> words,
                                      const std::vector<ControlOption>& controls,
                                      const std::string& effectVersion,
                                      std::optional<LoadedSettings>& loaded);

// Collects what a render used, then saves it.
class SettingsRecord {
 public:
  SettingsRecord();
  ~SettingsRecord();
  void text(const std::string& key, const std::string& value);
  void number(const std::string& key, int64_t value);
  void flag(const std::string& key, bool value);
  void unset(const std::string& key);  // a default that is no value: null
  // Every control: the value given, else the control's default.
  void controls(const std::vector<ControlOption>& options, const std::vector<ControlValue>& values);
  // Writes the file as images are written (complete or not at all), with the
  // tool's and the effect's names and versions. Throws WriteError.
  void save(const std::string& path, const std::string& tool, const std::string& effect,
            const std::string& effectVersion) const;

 private:
  struct Json;
  std::unique_ptr<Json> json_;
};

}  // namespace tilvane_tool
