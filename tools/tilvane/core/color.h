// Colour spaces of the files read and written. The effect works on
// sRGB-encoded values, as the host does in its default working space; EXR and
// floating-point files hold linear light, 8- and 16-bit files sRGB-encoded
// values. The conversions are OpenImageIO's (OpenColorIO underneath).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "standin/world.h"

namespace tilvane_tool {

// The name the effect's values are encoded in, and the one for linear light.
inline constexpr const char* kWorkingSpace = "sRGB";
inline constexpr const char* kLinearSpace = "linear";
// The EXR header attribute naming the space the values are in. OpenImageIO
// reports every EXR as linear; this one it reads back as it was written.
inline constexpr const char* kColorSpaceAttribute = "colorSpace";
// Asked for instead of a colour space: the values pass as they are.
inline constexpr const char* kRawSpace = "raw";

// The names of the spaces the colour configuration converts to and from the
// working space, then "raw".
std::vector<std::string> ColorSpaceNames();

// The configuration's own spelling of a name given in any case, or "raw";
// throws UsageError naming the option and the names that work (an empty name
// is no name).
std::string ResolveColorSpace(const std::string& option, const std::string& name);
// The same without a message: nothing when the name does not work.
std::optional<std::string> KnownColorSpace(const std::string& name);

// True when values in space need no conversion to or from the working space.
bool IsWorkingSpace(const std::string& space);

// Converts width × height RGBA floats in place from one space to the other.
// premultiplied says whether the colour is multiplied by alpha (it is then
// divided out for the conversion and multiplied back). Throws UsageError
// naming what when the configuration cannot convert.
void ConvertColor(std::vector<float>& rgba, int width, int height, bool premultiplied,
                  const std::string& from, const std::string& to, const std::string& what);

// An 8-bit frame's premultiplied RGBA as half floats (their bits) with its
// colour converted from the working space to space, for an EXR: the values
// FloatsFromWorld (pixel_rows.h), ConvertColour and OpenImageIO's conversion to half give.
// Looked up in a table of every value under every alpha, made once per space,
// when the conversion treats each channel on its own (as every conversion
// between sRGB and linear light does, checked on a pattern when the table is
// made); converted whole otherwise. Returns true when looked up. Throws
// UsageError naming what when the space cannot be converted to.
bool HalvesFromWorld8(const standin::World& frame, const std::string& space,
                      const std::string& what, std::vector<uint16_t>& halves);

// The frame, premultiplied as the effect renders it, with its colour converted
// from the working space to space, at the same depth.
standin::WorldPtr FrameInSpace(const standin::World& frame, const std::string& space,
                               const std::string& what);

}  // namespace tilvane_tool
