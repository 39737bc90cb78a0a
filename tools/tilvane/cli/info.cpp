#include "tools/tilvane/cli/info.h"

#include <cstdio>
#include <cstring>

#include "src/frame/effect_info.h"
#include "standin/packed_version.h"
#include "tools/tilvane/core/color.h"
#include "tools/tilvane/core/errors.h"
#include "tools/tilvane/job/controls.h"
#include "tools/tilvane/job/threads.h"

namespace tilvane_tool {
namespace {

// The About message as the effect returned it, its lines indented by two.
std::string IndentedAbout(const PF_OutData& out) {
  std::string indented;
  for (char c : std::string(out.return_msg, strnlen(out.return_msg, sizeof out.return_msg))) {
    indented += c == '\r' || c == '\n' ? std::string("\n  ") : std::string(1, c);
  }
  return indented;
}

}  // namespace

int Info(const LoadedPlugin& plugin) {
  plugin.require();
  standin::Host& host = *plugin.host;
  if (PF_Err err = host.about()) {
    throw EffectFailed(err, "for its About message");
  }
  const PF_OutData& out = host.outData();
  // Name and category reach a host only through the PiPL resource of the
  // Windows build; here they come from the identity header that resource is made from.
  std::printf("Plug-in:   %s\n", plugin.path.c_str());
  std::printf("Name:      %s\n", TILVANE_NAME);
  std::printf("Match:     %s\n", TILVANE_MATCH_NAME);
  std::printf("Category:  %s\n", TILVANE_CATEGORY);
  std::printf("Version:   %s\n", standin::VersionText(out.my_version).c_str());
  std::printf("Render:    %s\n", PathAndThreads(ThreadsPerFrame(1)).c_str());
  std::printf("About:\n  %s\n", IndentedAbout(out).c_str());
  std::printf("Parameters (%zu, as registered at parameter set-up):\n%s", plugin.table().size(),
              DescribeParameters(plugin.table()).c_str());
  std::string spaces;
  for (const std::string& name : ColorSpaceNames()) spaces += (spaces.empty() ? "" : ", ") + name;
  std::printf("Colour spaces (--input-colorspace, --output-colorspace):\n  %s\n", spaces.c_str());
  return 0;
}

}  // namespace tilvane_tool
