#include "tools/tilvane/job/controls.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <sstream>

#include "tools/tilvane/core/errors.h"
#include "tools/tilvane/core/text.h"

namespace tilvane_tool {
namespace {

std::vector<std::string> SplitItems(const std::string& items) {
  std::vector<std::string> out;
  std::string item;
  std::istringstream in(items);
  while (std::getline(in, item, '|')) out.push_back(item);
  return out;
}

std::string Number(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", value);
  return text;
}

std::string Hex(const PF_Pixel& c) {
  char text[8];
  std::snprintf(text, sizeof text, "%02x%02x%02x", c.red, c.green, c.blue);
  return text;
}

std::string JoinChoices(const std::vector<std::string>& choices) {
  std::string out;
  for (size_t i = 0; i < choices.size(); ++i) out += (i ? ", " : "") + choices[i];
  return out;
}

const char* TypeName(PF_ParamType type) {
  switch (type) {
    case PF_Param_LAYER:
      return "layer";
    case PF_Param_SLIDER:
      return "slider";
    case PF_Param_FLOAT_SLIDER:
      return "float slider";
    case PF_Param_CHECKBOX:
      return "checkbox";
    case PF_Param_COLOR:
      return "color";
    case PF_Param_POPUP:
      return "popup";
    default:
      return "other";
  }
}

std::string Name(const PF_ParamDef& def) {
  return std::string(def.name, strnlen(def.name, sizeof def.name));
}

}  // namespace

std::vector<std::string> ControlOption::choices() const {
  std::vector<std::string> out;
  for (const std::string& item : SplitItems(param.popupItems)) out.push_back(Slug(item));
  return out;
}

std::string ControlOption::help() const {
  const PF_ParamDef& d = param.def;
  std::string name = "\"";  // appended, not prefixed: GCC 12 warns wrongly on "..." + string
  name += Name(d) + "\"";
  switch (d.param_type) {
    case PF_Param_SLIDER:
      return name + ": a whole number from " + std::to_string(d.u.sd.valid_min) + " to " +
             std::to_string(d.u.sd.valid_max) + " (default " + std::to_string(d.u.sd.dephault) +
             ")";
    case PF_Param_FLOAT_SLIDER:
      return name + ": a number from " + Number(d.u.fs_d.valid_min) + " to " +
             Number(d.u.fs_d.valid_max) + " (default " + Number(d.u.fs_d.dephault) + ")";
    case PF_Param_POPUP: {
      const auto items = choices();
      const size_t def = static_cast<size_t>(d.u.pd.dephault);
      return name + ": " + JoinChoices(items) +
             (def >= 1 && def <= items.size() ? " (default " + items[def - 1] + ")" : "");
    }
    case PF_Param_CHECKBOX:
      return name + std::string(" on (default ") + (d.u.bd.dephault ? "on" : "off") + ")";
    case PF_Param_COLOR:
      return name + ": RRGGBB in hexadecimal (default " + Hex(d.u.cd.dephault) + ")";
    default:
      return name;
  }
}

std::vector<ControlOption> ControlOptions(const std::vector<standin::RegisteredParam>& table) {
  std::vector<ControlOption> out;
  for (size_t i = 0; i < table.size(); ++i) {
    const PF_ParamDef& d = table[i].def;
    if (d.param_type == PF_Param_LAYER) continue;
    ControlOption option;
    // The host places the first definition after its own input layer.
    option.index = static_cast<int>(i) + 1;
    option.param = table[i];
    option.flag = "--" + Slug(Name(d));
    out.push_back(std::move(option));
  }
  return out;
}

size_t ChoiceIndex(const std::string& flag, const std::string& text,
                   const std::vector<std::string>& choices) {
  const std::string wanted = Slug(text);
  const auto it = std::find(choices.begin(), choices.end(), wanted);
  if (wanted.empty() || it == choices.end()) {
    throw UsageError(flag + " '" + text + "' is not a choice" + DidYouMean(wanted, choices) +
                     "; use one of " + JoinChoices(choices));
  }
  return static_cast<size_t>(it - choices.begin());
}

PF_Pixel ParseColor(const std::string& what, const std::string& text) {
  std::string hex = text;
  if (!hex.empty() && hex[0] == '#') hex.erase(0, 1);
  unsigned value = 0;
  const auto [end, ec] = std::from_chars(hex.data(), hex.data() + hex.size(), value, 16);
  if (hex.size() != 6 || ec != std::errc() || end != hex.data() + hex.size() ||
      hex.find_first_of("+-") != std::string::npos) {
    throw UsageError(what + " '" + text +
                     "' is not a colour; give six hexadecimal digits RRGGBB, e.g. ff8000");
  }
  return PF_Pixel{255, static_cast<A_u_char>(value >> 16), static_cast<A_u_char>(value >> 8),
                  static_cast<A_u_char>(value)};
}

ControlValue ParseControl(const ControlOption& option) {
  const PF_ParamDef& d = option.param.def;
  const std::string& text = option.text;
  ControlValue value;
  value.index = option.index;
  value.type = d.param_type;
  const char* begin = text.data();
  const char* end = text.data() + text.size();
  switch (d.param_type) {
    case PF_Param_SLIDER: {
      const std::string range =
          std::to_string(d.u.sd.valid_min) + " to " + std::to_string(d.u.sd.valid_max);
      int64_t n = 0;
      const auto [at, ec] = std::from_chars(begin, end, n);
      if (text.empty() || ec == std::errc::invalid_argument || at != end) {
        throw UsageError(option.flag + " '" + text + "' is not a whole number; give one from " +
                         range);
      }
      if (ec == std::errc::result_out_of_range || n < d.u.sd.valid_min || n > d.u.sd.valid_max) {
        throw UsageError(option.flag + " " + text + " is out of range; give a whole number from " +
                         range);
      }
      value.integer = static_cast<int32_t>(n);
      break;
    }
    case PF_Param_FLOAT_SLIDER: {
      const std::string range = Number(d.u.fs_d.valid_min) + " to " + Number(d.u.fs_d.valid_max);
      double x = 0;
      const auto [at, ec] = std::from_chars(begin, end, x);
      if (text.empty() || ec != std::errc() || at != end || !std::isfinite(x)) {
        throw UsageError(option.flag + " '" + text + "' is not a number; give one from " + range);
      }
      if (x < d.u.fs_d.valid_min || x > d.u.fs_d.valid_max) {
        throw UsageError(option.flag + " " + text + " is out of range; give a number from " +
                         range);
      }
      value.number = x;
      break;
    }
    case PF_Param_POPUP:
      value.integer = static_cast<int32_t>(ChoiceIndex(option.flag, text, option.choices()) + 1);
      break;
    case PF_Param_CHECKBOX:
      value.integer = option.checked ? 1 : 0;
      break;
    case PF_Param_COLOR:
      value.color = ParseColor(option.flag, text);
      break;
    default:
      throw UsageError(option.flag + ": the plug-in registered a control of a type (" +
                       std::to_string(d.param_type) + ") this tool cannot set; leave it out");
  }
  return value;
}

std::vector<ControlValue> ParseControls(const std::vector<ControlOption>& options) {
  std::vector<ControlValue> out;
  for (const ControlOption& option : options) {
    if (option.given) out.push_back(ParseControl(option));
  }
  return out;
}

void ApplyControls(standin::Host& host, const std::vector<ControlValue>& values) {
  for (const ControlValue& v : values) {
    switch (v.type) {
      case PF_Param_FLOAT_SLIDER:
        host.setFloat(v.index, v.number);
        break;
      case PF_Param_COLOR:
        host.setColor(v.index, v.color);
        break;
      default:
        host.setInt(v.index, v.integer);
        break;
    }
  }
}

std::string DescribeParameters(const std::vector<standin::RegisteredParam>& table) {
  std::ostringstream out;
  char line[256];
  std::snprintf(line, sizeof line, "%5s  %-22s %-13s %-16s %s\n", "index", "name", "type", "range",
                "default");
  out << line;
  for (size_t i = 0; i < table.size(); ++i) {
    const PF_ParamDef& d = table[i].def;
    std::string range, dephault;
    switch (d.param_type) {
      case PF_Param_LAYER:
        range = "any layer";
        dephault = d.u.ld.dephault == PF_LayerDefault_NONE ? "none" : "this layer";
        break;
      case PF_Param_SLIDER:
        range = std::to_string(d.u.sd.valid_min) + " to " + std::to_string(d.u.sd.valid_max);
        dephault = std::to_string(d.u.sd.dephault);
        break;
      case PF_Param_FLOAT_SLIDER:
        range = Number(d.u.fs_d.valid_min) + " to " + Number(d.u.fs_d.valid_max);
        dephault = Number(d.u.fs_d.dephault);
        break;
      case PF_Param_CHECKBOX:
        range = "off, on";
        dephault = d.u.bd.dephault ? "on" : "off";
        break;
      case PF_Param_COLOR:
        range = "any colour";
        dephault = Hex(d.u.cd.dephault);
        break;
      case PF_Param_POPUP: {
        range = std::to_string(d.u.pd.num_choices) + " choices";
        const auto items = SplitItems(table[i].popupItems);
        const size_t def = static_cast<size_t>(d.u.pd.dephault);
        dephault = std::to_string(def) +
                   (def >= 1 && def <= items.size() ? " (" + items[def - 1] + ")" : std::string());
        break;
      }
      default:
        break;
    }
    std::snprintf(line, sizeof line, "%5zu  %-22s %-13s %-16s %s\n", i + 1, Name(d).c_str(),
                  TypeName(d.param_type), range.c_str(), dephault.c_str());
    out << line;
    if (d.param_type == PF_Param_POPUP) out << "       items: " << table[i].popupItems << "\n";
    if (d.param_type == PF_Param_CHECKBOX && !table[i].checkboxLabel.empty()) {
      out << "       label: " << table[i].checkboxLabel << "\n";
    }
  }
  return out.str();
}

}  // namespace tilvane_tool
