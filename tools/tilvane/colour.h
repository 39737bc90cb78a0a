// Colour spaces of the files read and written. The effect works on
// sRGB-encoded values, as the host does in its default working space; EXR and
// floating-point files hold linear light, 8- and 16-bit files sRGB-encoded
// values. The conversions are OpenImageIO's (OpenColorIO underneath).
#pragma once

#include <string>
#include <vector>

#include "standin/world.h"

namespace tilvane_tool {

// The name the effect's values are encoded in, and the one for linear light.
inline constexpr const char* kWorkingSpace = "sRGB";
inline constexpr const char* kLinearSpace = "linear";
// Asked for instead of a colour space: the values pass as they are.
inline constexpr const char* kRawSpace = "raw";

// The names the colour configuration knows, then "raw".
std::vector<std::string> ColourSpaceNames();

// The configuration's own spelling of a name given in any case, or "raw";
// throws UsageError naming the option and the known names.
std::string ResolveColourSpace(const std::string& option, const std::string& name);

// True when values in space need no conversion to or from the working space.
bool IsWorkingSpace(const std::string& space);

// Converts width × height RGBA floats in place from one space to the other.
// premultiplied says whether the colour is multiplied by alpha (it is then
// divided out for the conversion and multiplied back). Throws UsageError
// naming what when the configuration cannot convert.
void ConvertColour(std::vector<float>& rgba, int width, int height, bool premultiplied,
                   const std::string& from, const std::string& to, const std::string& what);

// A frame's premultiplied channels as RGBA floats (1.0 full scale), and back
// to the nearest step, clamped, with no colour above its alpha.
std::vector<float> FloatsFromWorld(const standin::World& frame);
standin::WorldPtr WorldFromFloats(const std::vector<float>& rgba, int32_t width, int32_t height,
                                  int depth);

// The frame, premultiplied as the effect renders it, with its colour converted
// from the working space to space, at the same depth.
standin::WorldPtr FrameInSpace(const standin::World& frame, const std::string& space,
                               const std::string& what);

}  // namespace tilvane_tool
