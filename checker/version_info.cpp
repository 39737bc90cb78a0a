#include "checker/version_info.h"

#include <cstdio>
#include <optional>
#include <stdexcept>

#include "src/frame/effect_info.h"
#include "standin/packed_version.h"

#if defined(_WIN32)
#include <windows.h>
#endif

namespace checker {
namespace {

const PiplProperty* Find(const std::vector<PiplProperty>& pipl, const std::string& key) {
  for (const PiplProperty& p : pipl) {
    if (p.key == key) return &p;
  }
  return nullptr;
}

std::optional<std::string> PiplName(const std::vector<PiplProperty>& pipl) {
  const PiplProperty* name = Find(pipl, "name");
  if (name == nullptr || name->data.empty() || name->data[0] + 1u > name->data.size()) {
    return std::nullopt;
  }
  return std::string(name->data.begin() + 1, name->data.begin() + 1 + name->data[0]);
}

// The four numbers of the host's packed version that Windows shows: major,
// minor, bug-fix and build (the stage has no place there).
std::optional<std::array<uint16_t, 4>> PiplVersion(const std::vector<PiplProperty>& pipl) {
  const PiplProperty* ver = Find(pipl, "eVER");
  if (ver == nullptr || ver->data.size() != 4) return std::nullopt;
  const standin::PackedVersion v =
      standin::UnpackVersion(uint32_t{ver->data[0]} | uint32_t{ver->data[1]} << 8 |
                             uint32_t{ver->data[2]} << 16 | uint32_t{ver->data[3]} << 24);
  return std::array<uint16_t, 4>{static_cast<uint16_t>(v.major), static_cast<uint16_t>(v.minor),
                                 static_cast<uint16_t>(v.bugfix), static_cast<uint16_t>(v.build)};
}

std::string Dotted(const std::array<uint16_t, 4>& v, int parts) {
  std::string s = std::to_string(v[0]);
  for (int i = 1; i < parts; ++i) {
    s += '.';
    s += std::to_string(v[i]);
  }
  return s;
}

}  // namespace

std::vector<std::string> CheckVersionInfo(const VersionInfo& info,
                                          const std::vector<PiplProperty>& pipl,
                                          const std::string& aboutMessage) {
  std::vector<std::string> problems;
  auto text = [&](const std::string& key) -> std::string {
    const auto it = info.strings.find(key);
    if (it == info.strings.end() || it->second.empty()) {
      problems.push_back("no " + key + " string");
      return {};
    }
    return it->second;
  };
  auto expect = [&](const std::string& key, const std::string& value, const std::string& source) {
    const std::string found = text(key);
    if (!found.empty() && found != value) {
      problems.push_back(key + " \"" + found + "\" differs from " + source + " \"" + value + "\"");
    }
  };
  auto inAbout = [&](const std::string& key) {
    const std::string found = text(key);
    if (!found.empty() && aboutMessage.find(found) == std::string::npos) {
      problems.push_back(key + " \"" + found + "\" is not in the About message");
    }
  };

  const auto name = PiplName(pipl);
  if (!name) {
    problems.push_back("the PiPL has no name");
  } else {
    expect("ProductName", *name, "the PiPL name");
    expect("InternalName", *name, "the PiPL name");
    expect("OriginalFilename", *name + ".aex", "the PiPL name with .aex");
  }
  const auto version = PiplVersion(pipl);
  if (!version) {
    problems.push_back("the PiPL has no eVER");
  } else {
    if (info.fileVersion != *version) {
      problems.push_back("file version " + Dotted(info.fileVersion, 4) + " differs from eVER " +
                         Dotted(*version, 4));
    }
    if (info.productVersion != *version) {
      problems.push_back("product version " + Dotted(info.productVersion, 4) +
                         " differs from eVER " + Dotted(*version, 4));
    }
    expect("FileVersion", Dotted(*version, 4), "eVER");
    expect("ProductVersion", Dotted(*version, 2), "eVER");
  }
  // The About box opens with "<name> - v<major>.<minor>" on a line of its own.
  const std::string productVersion = text("ProductVersion");
  if (name && !productVersion.empty() &&
      aboutMessage.rfind(*name + " - v" + productVersion + "\r", 0) != 0) {
    problems.push_back("the About message does not open with \"" + *name + " - v" + productVersion +
                       "\"");
  }
  expect("CompanyName", TILVANE_VENDOR, "the vendor");
  inAbout("FileDescription");
  inAbout("LegalCopyright");
  return problems;
}

std::string Describe(const VersionInfo& info) {
  auto get = [&](const char* key) {
    const auto it = info.strings.find(key);
    return it == info.strings.end() ? std::string("?") : it->second;
  };
  return get("ProductName") + " " + get("ProductVersion") + " (file " +
         Dotted(info.fileVersion, 4) + "), " + get("CompanyName") + ", \"" +
         get("FileDescription") + "\", \"" + get("LegalCopyright") + "\"";
}

#if defined(_WIN32)

VersionInfo ReadVersionInfo(const std::string& modulePath) {
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeA(modulePath.c_str(), &ignored);
  if (size == 0) throw std::runtime_error(modulePath + " has no version resource");
  std::vector<char> block(size);
  if (!GetFileVersionInfoA(modulePath.c_str(), 0, size, block.data())) {
    throw std::runtime_error("cannot read the version resource of " + modulePath);
  }
  VersionInfo info;
  void* value = nullptr;
  UINT length = 0;
  if (!VerQueryValueA(block.data(), "\\", &value, &length) || length < sizeof(VS_FIXEDFILEINFO)) {
    throw std::runtime_error(modulePath + " has no fixed file version");
  }
  const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
  info.fileVersion = {HIWORD(fixed->dwFileVersionMS), LOWORD(fixed->dwFileVersionMS),
                      HIWORD(fixed->dwFileVersionLS), LOWORD(fixed->dwFileVersionLS)};
  info.productVersion = {HIWORD(fixed->dwProductVersionMS), LOWORD(fixed->dwProductVersionMS),
                         HIWORD(fixed->dwProductVersionLS), LOWORD(fixed->dwProductVersionLS)};
  for (const char* key : {"CompanyName", "FileDescription", "FileVersion", "InternalName",
                          "LegalCopyright", "OriginalFilename", "ProductName", "ProductVersion"}) {
    const std::string path = std::string("\\StringFileInfo\\040904B0\\") + key;
    if (VerQueryValueA(block.data(), path.c_str(), &value, &length) && length > 0) {
      info.strings[key] = static_cast<const char*>(value);
    }
  }
  return info;
}

#else

VersionInfo ReadVersionInfo(const std::string& modulePath) {
  throw std::runtime_error("reading the version resource of " + modulePath +
                           " needs the Windows version API");
}

#endif

}  // namespace checker
