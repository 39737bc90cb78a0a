// The effect's controls as command-line options. Everything about a control,
// its option name included, is read from the definition the plug-in registered
// at parameter set-up: "Effect Intensity" becomes --effect-intensity, its popup
// item "Horizontal Units" the value horizontal-units.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "standin/host.h"
#include "tools/tilvane/core/text.h"

namespace tilvane_tool {

// One control's option, bound to the text the user gave.
struct ControlOption {
  int index = 0;
  standin::RegisteredParam param;
  std::string flag;      // "--units"; a checkbox also has "--no-" + the rest
  std::string text;      // as given; empty when the option was not used
  bool given = false;    // also set by a checkbox's flags
  bool checked = false;  // checkbox: --border (true) or --no-border (false)

  std::string help() const;
  std::vector<std::string> choices() const;  // popups: the item slugs in order
};

// The controls of a registered parameter table (layers excluded), in index order.
std::vector<ControlOption> ControlOptions(const std::vector<standin::RegisteredParam>& table);

// A value to hand the host, checked against its definition.
struct ControlValue {
  int index = 0;
  PF_ParamType type = 0;
  int32_t integer = 0;
  double number = 0;
  PF_Pixel color{};
};

// Throws UsageError naming the option and the valid range or choices.
ControlValue ParseControl(const ControlOption& option);
std::vector<ControlValue> ParseControls(const std::vector<ControlOption>& options);
void ApplyControls(standin::Host& host, const std::vector<ControlValue>& values);

// The index of text among choices (slugs), compared as slugs too, so that case
// and spaces do not matter: "Horizontal Units" as `info` prints it is
// horizontal-units. Throws UsageError listing the choices.
size_t ChoiceIndex(const std::string& flag, const std::string& text,
                   const std::vector<std::string>& choices);

// RRGGBB (an optional leading '#'); throws UsageError naming what.
PF_Pixel ParseColor(const std::string& what, const std::string& text);

// The registered table as `tilvane info` prints it.
std::string DescribeParameters(const std::vector<standin::RegisteredParam>& table);

}  // namespace tilvane_tool
