#include "tools/tilvane/cli/save_settings.h"

#include <filesystem>

#include "src/frame/effect_info.h"
#include "tools/tilvane/cli/settings.h"
#include "tools/tilvane/core/errors.h"
#include "tools/tilvane/core/text.h"
#include "tools/tilvane/output/movie_writer.h"

namespace tilvane_tool {

void SaveSettings(const RenderArgs& args, const RenderRequest& request, const Scene& scene,
                  const std::vector<ControlOption>& controls, const std::string& effectVersion) {
  if (Lower(std::filesystem::path(args.saveSettings).extension().string()) != ".json") {
    throw UsageError("--save-settings " + Quoted(args.saveSettings) +
                     ": end the name with .json (settings are written as JSON)");
  }
  const LayerOptions& layers = args.layers;
  SettingsRecord record;
  const auto textOrUnset = [&](const std::string& key, const std::string& value) {
    if (value.empty()) {
      record.unset(key);
    } else {
      record.text(key, value);
    }
  };
  textOrUnset("icon", args.icon);
  textOrUnset("displacement", args.displacement);
  record.text("output", args.output);
  record.text("size", std::to_string(scene.width) + "x" + std::to_string(scene.height));
  record.number("depth", scene.depth);
  record.number("time-step", scene.timeStep);
  record.number("time-scale", scene.timeScale);
  record.number("duration", scene.totalTime / scene.timeStep);
  if (args.frames.empty()) {
    record.number("frame", request.jobs.front().frame);
  } else {
    record.text("frames", args.frames);
  }
  record.text("fit-displacement", Lower(layers.fitDisplacement));
  record.flag("loop-icon", layers.loopIcon);
  record.number("png-compression", request.png.compression);
  record.text("png-filter", PngFilterName(request.png.filter));
  textOrUnset("input-colorspace", layers.inputColorSpace.value_or(""));
  textOrUnset("output-colorspace", layers.outputColorSpace.value_or(""));
  if (request.movie) {
    record.text("codec", MovieCodecName(args.output, args.codec));
    if (request.quality) {
      record.number("quality", *request.quality);
    } else {
      record.unset("quality");
    }
  }
  record.controls(controls, scene.controls);
  record.save(args.saveSettings, std::string("tilvane ") + TILVANE_TOOL_VERSION, TILVANE_NAME,
              effectVersion);
}

}  // namespace tilvane_tool
