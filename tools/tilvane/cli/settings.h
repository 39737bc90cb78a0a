// Settings files: a render's options and controls as JSON, saved with
// --save-settings and read back with --settings. The keys are the options'
// own names without their dashes, so a file reads like the command line:
//   {
//     "tool": "tilvane 1.0.0",
//     "effect": {"name": "Tilvane", "version": "1.0.0 (release, build 1; packed 0x...)"},
//     "render": {"icon": "icon.png", "size": "1920x1080", "depth": 8, "quality": null, ...},
//     "controls": {"units": 8, "displacement-effect": "rotation", "border": false, ...},
//     "derived": ["size", "rate", "duration"]
//   }
// null stands for a default that is no value ("by the file's kind"). Options
// given on the command line override the file. "derived" names the render
// values the user did not choose, which the render took from its layers (or
// a default): a render reusing the file takes them from its own layers, so a
// look travels to other media; the file keeps them to show what was used. A
// file without "derived" (saved before it was written) pins every value.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tools/tilvane/cli/options.h"
#include "tools/tilvane/job/controls.h"

namespace tilvane_tool {

// What a settings file set, to name its keys in messages.
struct LoadedSettings {
  std::string path;
  std::map<std::string, std::string> keys;  // "--units" -> "controls.units"

  // A message about an option the file set (it starts with the option's name)
  // gets the file and the key in front; others pass unchanged.
  std::string explain(const std::string& message) const;
};

// Reads the file into the options and controls it sets, as the command line
// would have given them; those `given` on the command line (by any of their
// names, or an option they exclude) are left as they are, so that the command
// line wins. Unknown sections and keys are refused with the nearest name,
// values of the wrong JSON type with the type wanted; the values themselves
// are checked where the command line's are, and explain() names the key then.
// A file saved with another version of the effect than effectVersion (""
// unknown) gets a warning. Throws UsageError.
LoadedSettings LoadSettings(const std::string& path, RenderArgs& args,
                            std::vector<ControlOption>& controls,
                            const std::function<bool(const std::string& flag)>& given,
                            const std::string& effectVersion);

// Collects what a render used, then saves it.
class SettingsRecord {
 public:
  SettingsRecord();
  ~SettingsRecord();
  void render(const std::string& key, const SavedValue& value);
  // A render value that was derived rather than chosen.
  void derived(const std::string& key);
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
