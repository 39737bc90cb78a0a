#include "tools/tilvane/cli/settings.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>

#include "tools/tilvane/cli/command_line.h"
#include "tools/tilvane/core/errors.h"
#include "tools/tilvane/core/text.h"
#include "tools/tilvane/output/output_file.h"

namespace tilvane_tool {
namespace {

using Json = nlohmann::ordered_json;

const char* KindName(ValueKind kind) {
  switch (kind) {
    case ValueKind::Number:
      return "a number";
    case ValueKind::Flag:
      return "true or false";
    default:
      return "a string";
  }
}

ValueKind ControlKind(const ControlOption& c) {
  switch (c.param.def.param_type) {
    case PF_Param_SLIDER:
    case PF_Param_FLOAT_SLIDER:
      return ValueKind::Number;
    case PF_Param_CHECKBOX:
      return ValueKind::Flag;
    default:
      return ValueKind::Text;
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
  const std::vector<std::string> sections = {"tool", "effect", "render", "controls", "derived"};
  for (const auto& [key, value] : json.items()) {
    if (std::find(sections.begin(), sections.end(), key) == sections.end()) {
      throw UsageError(file + ": unknown key " + Quoted(key) + DidYouMean(key, sections) +
                       "; the sections are tool, effect, render, controls and derived");
    }
    if ((key == "render" || key == "controls") && !value.is_object()) {
      throw UsageError(file + ": " + key + " must be a JSON object of keys and values");
    }
    if (key == "derived" && !value.is_array()) {
      throw UsageError(file + ": derived must be a JSON array of render keys, such as [\"size\"]");
    }
  }
  return json;
}

// The values of one file set into the options, unless the command line gave them.
struct SettingsReader {
  LoadedSettings& loaded;
  const std::string& file;  // "--settings 'name'"
  const std::function<bool(const std::string& flag)>& given;
  std::set<std::string> derived = {};  // render keys the media give again

  // The render keys the file marks as derived. Throws UsageError.
  void readDerived(const Json& list) {
    std::vector<std::string> names;
    for (const RenderOption& o : RenderOptions()) {
      if (o.kept && o.derived) names.push_back(o.key());
    }
    for (const Json& item : list) {
      const std::string key = item.is_string() ? item.get<std::string>() : item.dump();
      if (!item.is_string() || std::find(names.begin(), names.end(), key) == names.end()) {
        throw UsageError(file + ": derived holds " + Quoted(key) + DidYouMean(key, names) +
                         "; it lists render keys a render may derive: " + OrList(names));
      }
      derived.insert(key);
    }
  }

  // The value as the option takes it: its text, or whether a flag is set.
  // Returns false for null, the default, which sets nothing.
  bool read(const std::string& name, ValueKind kind, const Json& value, std::string& text,
            bool& flag) const {
    if (value.is_null()) return false;
    const bool fits = kind == ValueKind::Number ? value.is_number()
                      : kind == ValueKind::Flag ? value.is_boolean()
                                                : value.is_string();
    if (!fits) {
      throw UsageError(file + ", key " + name + ": " + value.dump() + " is not " + KindName(kind) +
                       "; give " + KindName(kind) + " (or null for the default)");
    }
    if (kind == ValueKind::Flag) {
      flag = value.get<bool>();
    } else {
      text = kind == ValueKind::Number ? NumberText(value) : value.get<std::string>();
    }
    return true;
  }

  void render(const Json& section, RenderArgs& args, const std::vector<ControlOption>& controls) {
    std::vector<std::string> names;
    for (const RenderOption& o : RenderOptions()) {
      if (o.kept) names.push_back(o.key());
    }
    for (const auto& [key, value] : section.items()) {
      const RenderOption* option = FindRenderOption(key);
      if (!option || !option->kept) {
        if (std::any_of(controls.begin(), controls.end(),
                        [&](const ControlOption& c) { return c.flag == "--" + key; })) {
          throw UsageError(file + ": render." + key + " is a control; put it under \"controls\"");
        }
        throw UsageError(file + ": unknown key render." + key + DidYouMean(key, names) +
                         "; the render keys are the render options without their dashes "
                         "(controls go under \"controls\")");
      }
      std::string text;
      bool flag = false;
      if (!read("render." + key, option->kind(), value, text, flag)) continue;
      // Derived from the layers it was saved with: these layers give it again.
      if (derived.count(key)) continue;
      const RenderOption* other = ExcludedWith(*option);
      if (given("--" + key) || (other && given("--" + other->key()))) continue;
      if (other && section.contains(other->key()) && !section[other->key()].is_null()) {
        throw UsageError(file + ": render." + key + " and render." + other->key() +
                         " exclude each other; keep one");
      }
      loaded.keys["--" + key] = "render." + key;
      SetFromSettings(*option, args, text, flag, loaded.path);
    }
  }

  void controls(const Json& section, std::vector<ControlOption>& controls) {
    std::vector<std::string> names;
    for (const ControlOption& c : controls) names.push_back(c.flag.substr(2));
    for (const auto& [key, value] : section.items()) {
      const auto it = std::find_if(controls.begin(), controls.end(),
                                   [&](const ControlOption& c) { return c.flag == "--" + key; });
      if (it == controls.end()) {
        throw UsageError(file + ": unknown key controls." + key + DidYouMean(key, names) +
                         "; 'tilvane info' lists the controls (names in lower case with hyphens)");
      }
      std::string text;
      bool flag = false;
      if (!read("controls." + key, ControlKind(*it), value, text, flag) || it->given) continue;
      loaded.keys[it->flag] = "controls." + key;
      it->given = true;
      if (it->param.def.param_type == PF_Param_CHECKBOX) {
        it->checked = flag;
      } else {
        it->text = text;
      }
    }
  }
};

}  // namespace

LoadedSettings LoadSettings(const std::string& path, RenderArgs& args,
                            std::vector<ControlOption>& controls,
                            const std::function<bool(const std::string& flag)>& given,
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
  SettingsReader reader{loaded, file, given};
  if (json.contains("derived")) reader.readDerived(json["derived"]);
  if (json.contains("render")) reader.render(json["render"], args, controls);
  if (json.contains("controls")) reader.controls(json["controls"], controls);
  return loaded;
}

struct SettingsRecord::Json {
  tilvane_tool::Json render = tilvane_tool::Json::object();
  tilvane_tool::Json controls = tilvane_tool::Json::object();
  tilvane_tool::Json derived = tilvane_tool::Json::array();
};

SettingsRecord::SettingsRecord() : json_(std::make_unique<Json>()) {}
SettingsRecord::~SettingsRecord() = default;

void SettingsRecord::render(const std::string& key, const SavedValue& value) {
  using Is = SavedValue::Is;
  switch (value.is) {
    case Is::Nothing:
      break;
    case Is::Null:
      json_->render[key] = nullptr;
      break;
    case Is::Text:
      json_->render[key] = value.text;
      break;
    case Is::Number:
      json_->render[key] = value.number;
      break;
    case Is::Flag:
      json_->render[key] = value.flag;
      break;
  }
}

void SettingsRecord::derived(const std::string& key) { json_->derived.push_back(key); }

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
  file["derived"] = json_->derived;
  const std::string text = file.dump(2) + "\n";
  WriteFileAtomically(path, std::vector<unsigned char>(text.begin(), text.end()));
}

}  // namespace tilvane_tool
