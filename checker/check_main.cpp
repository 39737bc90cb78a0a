// standin_check PLUGIN: loads a plug-in file through the platform loader and
// checks what the host relies on before it shows the effect to a user: the
// export, global set-up, (on Windows) the PiPL, manifest and version resources
// and the imported DLLs, parameter set-up, About, unhandled commands and one
// render.
// Prints one line a check, the digests of two reference frames (which must
// be the same wherever the plug-in runs), and closes with "N passed, N failed".
#include <cstdio>
#include <cstring>
#include <exception>
#include <iostream>
#include <memory>
#include <string>

#include "checker/pe_image.h"
#include "checker/pipl.h"
#include "checker/version_info.h"
#include "src/frame/effect_info.h"
#include "src/params/params.h"
#include "src/render/render_options.h"
#include "standin/host.h"

namespace {

using enum tilvane::ParamIndex;

int passed = 0;
int failed = 0;

void Check(bool ok, const std::string& what, const std::string& detail = "") {
  (ok ? passed : failed)++;
  std::cout << (ok ? "ok: " : "FAIL: ") << what;
  if (!ok && !detail.empty()) std::cout << " (" << detail << ")";
  std::cout << '\n';
}

bool Balanced(const standin::Host& host) {
  return host.suiteBalance().empty() && host.outstandingCheckouts() == 0 && host.misuse().empty();
}

// FNV-1a over every channel of every pixel, row by row.
uint64_t Digest(const standin::World& world) {
  uint64_t hash = 14695981039346656037ull;
  auto add = [&hash](uint32_t v) {
    for (int i = 0; i < 2; ++i) {
      hash = (hash ^ ((v >> (8 * i)) & 0xFF)) * 1099511628211ull;
    }
  };
  for (int32_t y = 0; y < world.height(); ++y) {
    for (int32_t x = 0; x < world.width(); ++x) {
      if (world.depth() == 16) {
        const PF_Pixel16& p = world.at16(x, y);
        add(p.alpha), add(p.red), add(p.green), add(p.blue);
      } else {
        const PF_Pixel& p = world.at8(x, y);
        add(p.alpha), add(p.red), add(p.green), add(p.blue);
      }
    }
  }
  return hash;
}

// A frame whose channels follow (x, y) and a phase; depth 8 or 16.
std::shared_ptr<standin::World> Pattern(int32_t w, int32_t h, int depth, int phase) {
  auto world = std::make_shared<standin::World>(w, h, depth);
  const int full = depth == 16 ? 32768 : 255;
  for (int32_t y = 0; y < h; ++y) {
    for (int32_t x = 0; x < w; ++x) {
      const bool edge = x == 0 || y == 0 || x == w - 1 || y == h - 1;
      const int a = edge ? 0 : full;
      // Channels spread over the whole range at either depth, premultiplied.
      const int r = (x * 37 + phase * 11) % 256 * full / 255 * a / full;
      const int g = (y * 53 + phase * 7) % 256 * full / 255 * a / full;
      const int b = (x + y) * 29 % 256 * full / 255 * a / full;
      if (depth == 16) {
        world->at16(x, y) = PF_Pixel16{static_cast<A_u_short>(a), static_cast<A_u_short>(r),
                                       static_cast<A_u_short>(g), static_cast<A_u_short>(b)};
      } else {
        world->at8(x, y) = PF_Pixel{static_cast<A_u_char>(a), static_cast<A_u_char>(r),
                                    static_cast<A_u_char>(g), static_cast<A_u_char>(b)};
      }
    }
  }
  return world;
}

// A reference frame that takes every branch of the render: turn and scale by
// brightness, both colour mappings' exchange, fading, the border, per-column
// icon times from a frame list. Its digest must be the same on every system
// the plug-in is built for; the turn goes through the system's sine and
// cosine, so a maths library that rounds differently shows up here.
// The large variant has cells wide enough for the vector walk's full groups
// and big enough to be shared among threads.
uint64_t ReferenceDigest(standin::PluginLibrary& library, int depth, bool large) {
  standin::Host host(library.entry());
  host.time() = standin::HostTime{4, 2, 40, 24};
  if (host.paramsSetup() != 0) return 0;
  host.setInt(PARAM_UNITS, large ? 2 : 5);
  host.setInt(PARAM_DISPLACEMENT_EFFECT, 3);  // Both
  host.setFloat(PARAM_EFFECT_INTENSITY, 130);
  host.setFloat(PARAM_SCALE_OFFSET, -20);
  host.setFloat(PARAM_TIME_OFFSET, 45);
  host.setInt(PARAM_BORDER, 1);
  host.setInt(PARAM_TIME_MAPPING, 2);          // Horizontal Units
  host.setInt(PARAM_COLOR_MAPPING, 3);         // Inverse Displacement
  host.setInt(PARAM_TRANSPARENCY_MAPPING, 2);  // Displacement
  std::vector<standin::WorldPtr> icons;
  for (int phase = 0; phase < 7; ++phase) icons.push_back(Pattern(19, 13, depth, phase));
  host.setLayer(PARAM_ICON_LAYER, standin::FrameListSource(icons));
  const int32_t width = large ? 333 : 71;
  const int32_t height = large ? 190 : 40;
  host.setLayer(PARAM_DISPLACEMENT_LAYER, standin::StillSource(Pattern(width, height, depth, 3)));
  standin::World output(width, height, depth);
  if (host.render(output) != 0 || !Balanced(host)) return 0;
  return Digest(output);
}

void CheckResources(const std::string& path, const PF_OutData& setup) {
#if defined(_WIN32)
  try {
    const auto properties = checker::ParsePipl(checker::ReadPiplResource(path));
    const auto problems =
        checker::CheckPipl(properties, {setup.my_version, setup.out_flags, setup.out_flags2});
    std::string all;
    for (const auto& p : problems) all += (all.empty() ? "" : "; ") + p;
    Check(problems.empty(), "the PiPL holds the twelve properties global set-up agrees with", all);
  } catch (const std::exception& e) {
    Check(false, "the PiPL can be read", e.what());
  }
  try {
    const std::string manifest = checker::ReadManifestResource(path);
    Check(manifest.find("level=\"asInvoker\"") != std::string::npos &&
              manifest.find("uiAccess=\"false\"") != std::string::npos,
          "the manifest asks for asInvoker without UI access");
  } catch (const std::exception& e) {
    Check(false, "the manifest can be read", e.what());
  }
  try {
    std::string foreign;
    for (const auto& dll : checker::ImportedDlls(path)) {
      if (!checker::IsWindowsSystemDll(dll)) foreign += (foreign.empty() ? "" : ", ") + dll;
    }
    Check(foreign.empty(), "the plug-in imports only Windows system DLLs", foreign);
    const auto exports = checker::ExportedNames(path);
    Check(exports.size() == 1 && exports[0] == TILVANE_ENTRY_POINT,
          "the plug-in exports EntryPointFunc and nothing else");
  } catch (const std::exception& e) {
    Check(false, "the import table can be read", e.what());
  }
#else
  (void)path;
  (void)setup;
#endif
}

// The version Windows shows must be the one the PiPL and the About box give.
void CheckVersionResource(const std::string& path, const std::string& aboutMessage) {
#if defined(_WIN32)
  try {
    const checker::VersionInfo info = checker::ReadVersionInfo(path);
    const auto problems = checker::CheckVersionInfo(
        info, checker::ParsePipl(checker::ReadPiplResource(path)), aboutMessage);
    std::string all;
    for (const auto& p : problems) all += (all.empty() ? "" : "; ") + p;
    Check(problems.empty(), "the version resource agrees with the PiPL and About", all);
    std::cout << "version resource: " << checker::Describe(info) << '\n';
  } catch (const std::exception& e) {
    Check(false, "the version resource can be read", e.what());
  }
#else
  (void)path;
  (void)aboutMessage;
#endif
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: standin_check PLUGIN\n";
    return 2;
  }
  const std::string path = argv[1];
  try {
    standin::PluginLibrary library(path);
    Check(true, "EntryPointFunc is exported");
    standin::Host host(library.entry());

    const PF_Err setupErr = host.globalSetup();
    Check(setupErr == 0 && host.outData().my_version == TILVANE_PACKED_VERSION &&
              host.outData().out_flags == TILVANE_OUT_FLAGS,
          "global set-up reports version 1.0, deep colour and wide time input");
    CheckResources(path, host.outData());

    host.outData().num_params = 0;
    const PF_Err paramsErr = host.paramsSetup();
    // Every parameter but the input layer is a control.
    bool idsInOrder = host.registered().size() == PARAM_COUNT - 1;
    for (size_t i = 0; idsInOrder && i < host.registered().size(); ++i) {
      idsInOrder = host.registered()[i].def.uu.id == static_cast<A_long>(i + 1);
    }
    Check(paramsErr == 0 && idsInOrder && host.outData().num_params == PARAM_COUNT,
          "parameter set-up declares sixteen controls, ids 1 to 16, seventeen parameters");

    const PF_Err aboutErr = host.about();
    const std::string message = host.outData().return_msg;
    Check(aboutErr == 0 && message.rfind(TILVANE_NAME " - v" TILVANE_VERSION_TEXT "\r\r", 0) == 0 &&
              message.find('\n') == std::string::npos && Balanced(host),
          "About composes its message and releases the ANSI suite");
    CheckVersionResource(path, message);

    bool quiet = true;
    for (PF_Cmd cmd : {2, 3, 5, 10, 12, 33, -1}) {
      PF_OutData before;
      std::memcpy(&before, &host.outData(), sizeof before);
      quiet = quiet && host.command(cmd) == 0 &&
              std::memcmp(&before, &host.outData(), sizeof before) == 0;
    }
    Check(quiet, "unhandled commands succeed and write nothing");

    standin::World output(16, 9, 8);
    const PF_Err renderErr = host.render(output);
    Check(renderErr == 0 && Balanced(host),
          "a render returns with every suite released and every layer checked in");

    // The plug-in reads the same CPU and environment when it renders.
    const tilvane::RenderOptions options = tilvane::ReadRenderOptions();
    std::printf("render path: %s (this CPU offers %s), %d thread%s per frame\n",
                tilvane::SimdPathName(options.simd), tilvane::SimdPathName(tilvane::BestSimdPath()),
                options.threads, options.threads == 1 ? "" : "s");
    std::fflush(stdout);
    for (const bool large : {false, true}) {
      for (int depth : {8, 16}) {
        const uint64_t digest = ReferenceDigest(library, depth, large);
        const std::string name =
            std::string(large ? "large " : "") + std::to_string(depth) + "-bit";
        Check(digest != 0, "the " + name + " reference frame renders");
        std::printf("digest %s: %016llx\n", name.c_str(), static_cast<unsigned long long>(digest));
        std::fflush(stdout);
      }
    }
  } catch (const std::exception& e) {
    Check(false, "the plug-in loads", e.what());
  }
  std::cout << passed << " passed, " << failed << " failed\n";
  return failed == 0 ? 0 : 1;
}
