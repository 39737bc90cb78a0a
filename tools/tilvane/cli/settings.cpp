#include "tools/tilvane/cli/settings.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

#include "tools/tilvane/cli/command_line.h"
#include "tools/tilvane/core/errors.h"
#include "tools/tilvane/core/text.h"
#include "tools/tilvane/output/output_file.h"

namespace tilvane_tool {
namespace {

using Json = nlohmann::ordered_json;

enum class Kind { Text, Number, Flag };

struct RenderKey {
  const char* name;
  Kind kind;
};
// In the order a file lists them.
constexpr RenderKey kRenderKeys[] = {
    {"icon", Kind::Text},
    {"displacement", Kind::Text},
    {"output", Kind::Text},
    {"size", Kind::Text},
    {"depth", Kind::Number},
    {"time-step", Kind::Number},
    {"time-scale", Kind::Number},
    {"duration", Kind::Number},
    {"frame", Kind::Number},
    {"frames", Kind::Text},
    {"fit-displacement", Kind::Text},
    {"loop-icon", Kind::Flag},
    {"input-colorspace", Kind::Text},
    {"output-colorspace", Kind::Text},
    {"codec", Kind::Text},
    {"quality", Kind::Number},
    {"png-compression", Kind::Number},
    {"png-filter", Kind::Text},
};

const char* KindName(Kind kind) {
  switch (kind) {
    case Kind::Number:
      return "a number";
    case Kind::Flag:
      return "true or false";
    default:
      return "a string";
  }
}

Kind ControlKind(const ControlOption& c) {
  switch (c.param.def.param_type) {
    case PF_Param_SLIDER:
    case PF_Param_FLOAT_SLIDER:
      return Kind::Number;
    case PF_Param_CHECKBOX:
      return Kind::Flag;
    default:
      return Kind::Text;
  }
}

std::string Hex(const PF_Pixel& c) {
  char text[8];
  std::snprintf(text, sizeof text, "%02x%02x%02x", c.red, c.green, c.blue);
  return text;
}

// A JSON number as the command line writes it; a fraction keeps every digit
// so that it reads back as the same double.
std::string NumberText(const Json& value) {
  if (value.is_number_integer() || value.is_number_unsigned()) return value.dump();
  char text[40];
  std::snprintf(text, sizeof text, "%.17g", value.get<double>());
  return text;
}

// What nlohmann's message says, without its "[json.exception...] " prefix.
std::string JsonReason(const std::exception& e) {
  std::string text = e.what();
  if (text.rfind("[json.exception", 0) == 0) {
    const size_t end = text.find("] ");
    if (end != std::string::npos) text.erase(0, end + 2);
  }
  return OneLine(text);
}

}  // namespace

const std::vector<std::string>& SettingsRenderKeys() {
  static const std::vector<std::string> keys = [] {
    std::vector<std::string> out;
    for (const RenderKey& k : kRenderKeys) out.push_back(k.name);
    return out;
  }();
  return keys;
}

std::string LoadedSettings::explain(const std::string& message) const {
  const size_t end = message.find_first_of(" :");
  const auto it = keys.find(message.substr(0, end));
  if (it == keys.end()) return message;
  return "--settings " + Quoted(path) + ", key " + it->second + ": " + message;
}

namespace {

// The file's JSON object, its sections checked. Throws UsageError.
Json ReadSettingsObject(const std::string& path, const std::string& file) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    throw UsageError(file +
                     " cannot be read; give the path of a settings file, as "
                     "--save-settings writes");
  }
  Json json;
  try {
    json = Json::parse(in);
  } catch (const Json::exception& e) {
    throw UsageError(file + " is not valid JSON (" + JsonReason(e) +
                     "); fix it, or write one with --save-settings");
  }
  if (!json.is_object()) {
    throw UsageError(file + " holds no JSON object; write one with --save-settings");
  }
  const std::vector<std::string> sections = {"tool", "effect", "render", "controls"};
  for (const auto& [key, value] : json.items()) {
    if (std::find(sections.begin(), sections.end(), key) == sections.end()) {
      throw UsageError(file + ": unknown key " + Quoted(key) + DidYouMean(key, sections) +
                       "; the sections are tool, effect, render and controls");
    }
    if ((key == "render" || key == "controls") && !value.is_object()) {
      throw UsageError(file + ": " + key + " must be a JSON object of keys and values");
    }
  }
  return json;
}

// The settings of one file turned into words, unless the command line gave them.
struct SettingsWords {
  LoadedSettings& loaded;
  const std::string& file;  // "--settings 'name'"
  std::set<std::string> commandLine;

  void add(const std::string& section, const std::string& key, Kind kind, const Json& value,
           bool checkbox) {
    const std::string name = section + "." + key;
    const std::string flag = "--" + key;
    const bool overridden = commandLine.count(flag) ||
                            (checkbox && commandLine.count("--no-" + key)) ||
                            (key == "output" && commandLine.count("-o")) ||
                            ((key == "frame" || key == "frames") &&
                             (commandLine.count("--frame") || commandLine.count("--frames")));
    if (value.is_null()) return;  // the default
    const bool fits = kind == Kind::Number ? value.is_number()
                      : kind == Kind::Flag ? value.is_boolean()
                                           : value.is_string();
    if (!fits) {
      throw UsageError(file + ", key " + name + ": " + value.dump() + " is not " + KindName(kind) +
                       "; give " + KindName(kind) + " (or null for the default)");
    }
    if (overridden) return;
    loaded.keys[flag] = name;
    if (kind == Kind::Flag) {
      if (checkbox) {
        loaded.args.push_back((value.get<bool>() ? "--" : "--no-") + key);
      } else if (value.get<bool>()) {
        loaded.args.push_back(flag);
      }
      return;
    }
    loaded.args.push_back(flag);
    loaded.args.push_back(kind == Kind::Number ? NumberText(value) : value.get<std::string>());
  }

  void render(const Json& section, const std::vector<ControlOption>& controls) {
    const std::vector<std::string>& names = SettingsRenderKeys();
    for (const auto& [key, value] : section.items()) {
      const auto it = std::find_if(std::begin(kRenderKeys), std::end(kRenderKeys),
                                   [&](const RenderKey& k) { return key == k.name; });
      if (it == std::end(kRenderKeys)) {
        if (std::any_of(controls.begin(), controls.end(),
                        [&](const ControlOption& c) { return c.flag == "--" + key; })) {
          throw UsageError(file + ": render." + key + " is a control; put it under \"controls\"");
        }
        throw UsageError(file + ": unknown key render." + key + DidYouMean(key, names) +
                         "; the render keys are the render options without their dashes "
                         "(controls go under \"controls\")");
      }
      add("render", key, it->kind, value, false);
    }
  }

  void controls(const Json& section, const std::vector<ControlOption>& controls) {
    std::vector<std::string> names;
    for (const ControlOption& c : controls) names.push_back(c.flag.substr(2));
    for (const auto& [key, value] : section.items()) {
      const auto it = std::find_if(controls.begin(), controls.end(),
                                   [&](const ControlOption& c) { return c.flag == "--" + key; });
      if (it == controls.end()) {
        throw UsageError(file + ": unknown key controls." + key + DidYouMean(key, names) +
                         "; 'tilvane info' lists the controls (names in lower case with hyphens)");
      }
      add("controls", key, ControlKind(*it), value, it->param.def.param_type == PF_Param_CHECKBOX);
    }
  }
};

}  // namespace

LoadedSettings LoadSettings(const std::string& path, const std::vector<ControlOption>& controls,
                            const std::vector<std::string>& given,
                            const std::string& effectVersion) {
  LoadedSettings loaded;
  loaded.path = path;
  const std::string file = "--settings " + Quoted(path);
  Json json = ReadSettingsObject(path, file);
  if (json.contains("effect") && json["effect"].is_object() && json["effect"].contains("version") &&
      json["effect"]["version"].is_string() && !effectVersion.empty() &&
      json["effect"]["version"] != effectVersion) {
    Warn(file + " was saved with the effect at version " +
         json["effect"]["version"].get<std::string>() + "; this one is " + effectVersion +
         ", so the frames may differ");
  }
  SettingsWords words{loaded, file, {given.begin(), given.end()}};
  if (json.contains("render")) words.render(json["render"], controls);
  if (json.contains("controls")) words.controls(json["controls"], controls);
  return loaded;
}

std::vector<std::string> WithSettings(std::vector<std::string> words,
                                      const std::vector<ControlOption>& controls,
                                      const std::string& effectVersion,
                                      std::optional<LoadedSettings>& loaded) {
  const auto command = std::find(words.begin() + 1, words.end(), "render");
  if (command == words.end()) return words;
  std::string file;
  std::vector<std::string> given;
  for (auto it = command + 1; it != words.end(); ++it) {
    if (it->size() < 2 || (*it)[0] != '-') continue;
    const std::string name = it->substr(0, it->find('='));
    if (name == "--settings") {
      file = name.size() < it->size() ? it->substr(name.size() + 1)
             : it + 1 != words.end()  ? *(it + 1)
                                      : "";
    }
    given.push_back(name);
  }
  if (file.empty()) return words;
  loaded = LoadSettings(file, controls, given, effectVersion);
  words.insert(command + 1, loaded->args.begin(), loaded->args.end());
  return words;
}

struct SettingsRecord::Json {
  tilvane_tool::Json render = tilvane_tool::Json::object();
  tilvane_tool::Json controls = tilvane_tool::Json::object();
};

SettingsRecord::SettingsRecord() : json_(std::make_unique<Json>()) {}
SettingsRecord::~SettingsRecord() = default;

void SettingsRecord::text(const std::string& key, const std::string& value) {
  json_->render[key] = value;
}
void SettingsRecord::number(const std::string& key, int64_t value) { json_->render[key] = value; }
void SettingsRecord::flag(const std::string& key, bool value) { json_->render[key] = value; }
void SettingsRecord::unset(const std::string& key) { json_->render[key] = nullptr; }

void SettingsRecord::controls(const std::vector<ControlOption>& options,
                              const std::vector<ControlValue>& values) {
  for (const ControlOption& c : options) {
    const PF_ParamDef& d = c.param.def;
    const auto given = std::find_if(values.begin(), values.end(),
                                    [&](const ControlValue& v) { return v.index == c.index; });
    const bool set = given != values.end();
    auto& slot = json_->controls[c.flag.substr(2)];
    switch (d.param_type) {
      case PF_Param_SLIDER:
        slot = set ? given->integer : d.u.sd.dephault;
        break;
      case PF_Param_FLOAT_SLIDER:
        slot = set ? given->number : d.u.fs_d.dephault;
        break;
      case PF_Param_CHECKBOX:
        slot = set ? given->integer != 0 : d.u.bd.dephault != 0;
        break;
      case PF_Param_COLOR:
        slot = Hex(set ? given->color : d.u.cd.dephault);
        break;
      case PF_Param_POPUP: {
        const auto choices = c.choices();
        const int32_t item = set ? given->integer : d.u.pd.dephault;
        if (item >= 1 && static_cast<size_t>(item) <= choices.size()) slot = choices[item - 1];
        break;
      }
      default:
        break;
    }
  }
}

void SettingsRecord::save(const std::string& path, const std::string& tool,
                          const std::string& effect, const std::string& effectVersion) const {
  tilvane_tool::Json file = tilvane_tool::Json::object();
  file["tool"] = tool;
  file["effect"] = {{"name", effect}, {"version", effectVersion}};
  file["render"] = json_->render;
  file["controls"] = json_->controls;
  const std::string text = file.dump(2) + "\n";
  WriteFileAtomically(path, std::vector<unsigned char>(text.begin(), text.end()));
}

}  // namespace tilvane_tool
