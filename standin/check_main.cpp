// standin_check PLUGIN: loads a plug-in file through the platform loader and
// checks what the host relies on before it shows the effect to a user: the
// export, global set-up, (on Windows) the PiPL and manifest resources and the
// imported DLLs, parameter set-up, About, unhandled commands and one render.
// Prints one line a check and closes with "N passed, N failed".
#include <cstring>
#include <exception>
#include <iostream>
#include <string>

#include "src/frame/effect_info.h"
#include "standin/host.h"
#include "standin/pe_image.h"
#include "standin/pipl.h"

namespace {

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

void CheckResources(const std::string& path, const PF_OutData& setup) {
#if defined(_WIN32)
  try {
    const auto properties = standin::ParsePipl(standin::ReadPiplResource(path));
    const auto problems =
        standin::CheckPipl(properties, {setup.my_version, setup.out_flags, setup.out_flags2});
    std::string all;
    for (const auto& p : problems) all += (all.empty() ? "" : "; ") + p;
    Check(problems.empty(), "the PiPL holds the twelve properties global set-up agrees with", all);
  } catch (const std::exception& e) {
    Check(false, "the PiPL can be read", e.what());
  }
  try {
    const std::string manifest = standin::ReadManifestResource(path);
    Check(manifest.find("level=\"asInvoker\"") != std::string::npos &&
              manifest.find("uiAccess=\"false\"") != std::string::npos,
          "the manifest asks for asInvoker without UI access");
  } catch (const std::exception& e) {
    Check(false, "the manifest can be read", e.what());
  }
  try {
    std::string foreign;
    for (const auto& dll : standin::ImportedDlls(path)) {
      if (!standin::IsWindowsSystemDll(dll)) foreign += (foreign.empty() ? "" : ", ") + dll;
    }
    Check(foreign.empty(), "the plug-in imports only Windows system DLLs", foreign);
    const auto exports = standin::ExportedNames(path);
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
          "global set-up reports version 1.0 and deep colour");
    CheckResources(path, host.outData());

    host.outData().num_params = 0;
    const PF_Err paramsErr = host.paramsSetup();
    bool idsInOrder = host.registered().size() == 16;
    for (size_t i = 0; idsInOrder && i < host.registered().size(); ++i) {
      idsInOrder = host.registered()[i].def.uu.id == static_cast<A_long>(i + 1);
    }
    Check(paramsErr == 0 && idsInOrder && host.outData().num_params == 17,
          "parameter set-up declares sixteen controls, ids 1 to 16, seventeen parameters");

    const PF_Err aboutErr = host.about();
    const std::string message = host.outData().return_msg;
    Check(aboutErr == 0 && message.rfind(TILVANE_NAME " - v1.0\r\r", 0) == 0 &&
              message.find('\n') == std::string::npos && Balanced(host),
          "About composes its message and releases the ANSI suite");

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
  } catch (const std::exception& e) {
    Check(false, "the plug-in loads", e.what());
  }
  std::cout << passed << " passed, " << failed << " failed\n";
  return failed == 0 ? 0 : 1;
}
