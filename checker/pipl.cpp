#include "checker/pipl.h"

#include <cstring>
#include <stdexcept>

#include "src/frame/effect_info.h"

#if defined(_WIN32)
#include <windows.h>
#endif

namespace checker {
namespace {

uint32_t Le32(const std::vector<uint8_t>& b, size_t at) {
  return uint32_t{b[at]} | uint32_t{b[at + 1]} << 8 | uint32_t{b[at + 2]} << 16 |
         uint32_t{b[at + 3]} << 24;
}
uint16_t Le16(const std::vector<uint8_t>& b, size_t at) {
  return static_cast<uint16_t>(b[at] | b[at + 1] << 8);
}

// Four-character codes are stored as little-endian numbers: bytes reversed.
std::string FourCC(const std::vector<uint8_t>& b, size_t at) {
  return std::string{static_cast<char>(b[at + 3]), static_cast<char>(b[at + 2]),
                     static_cast<char>(b[at + 1]), static_cast<char>(b[at])};
}

std::vector<uint8_t> Padded(std::vector<uint8_t> data) {
  while (data.size() % 4 != 0) data.push_back(0);
  return data;
}

std::vector<uint8_t> Code(const char* c) {
  return {static_cast<uint8_t>(c[3]), static_cast<uint8_t>(c[2]), static_cast<uint8_t>(c[1]),
          static_cast<uint8_t>(c[0])};
}
std::vector<uint8_t> Word32(uint32_t v) {
  return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
          static_cast<uint8_t>(v >> 24)};
}
std::vector<uint8_t> Pascal(const std::string& s) {
  std::vector<uint8_t> d{static_cast<uint8_t>(s.size())};
  d.insert(d.end(), s.begin(), s.end());
  return Padded(d);
}
std::vector<uint8_t> CString(const std::string& s) {
  std::vector<uint8_t> d(s.begin(), s.end());
  d.push_back(0);
  return Padded(d);
}
// A version as two 16-bit words, major first.
std::vector<uint8_t> Version(uint16_t major, uint16_t minor) {
  return {static_cast<uint8_t>(major), static_cast<uint8_t>(major >> 8),
          static_cast<uint8_t>(minor), static_cast<uint8_t>(minor >> 8)};
}

std::string Hex(const std::vector<uint8_t>& d) {
  static const char* digits = "0123456789abcdef";
  std::string s;
  for (uint8_t b : d) {
    if (!s.empty()) s += ' ';
    s += digits[b >> 4];
    s += digits[b & 15];
  }
  return s;
}

struct Expected {
  const char* key;
  std::vector<uint8_t> data;
  uint32_t length;
};

}  // namespace

std::vector<PiplProperty> ParsePipl(const std::vector<uint8_t>& bytes) {
  if (bytes.size() < 10) throw std::runtime_error("the PiPL is shorter than its header");
  if (Le16(bytes, 0) != 1 || Le32(bytes, 2) != 0) {
    throw std::runtime_error("the PiPL header is not version 1.0");
  }
  const uint32_t count = Le32(bytes, 6);
  std::vector<PiplProperty> out;
  size_t at = 10;
  for (uint32_t i = 0; i < count; ++i) {
    if (bytes.size() - at < 16) throw std::runtime_error("the PiPL ends inside a property header");
    PiplProperty p;
    p.vendor = FourCC(bytes, at);
    p.key = FourCC(bytes, at + 4);
    p.id = Le32(bytes, at + 8);
    p.length = Le32(bytes, at + 12);
    at += 16;
    // eINF counts its two bytes but occupies four; every other length is padded.
    const size_t stored = (size_t{p.length} + 3) / 4 * 4;
    if (bytes.size() - at < stored) throw std::runtime_error("the PiPL ends inside " + p.key);
    p.data.assign(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                  bytes.begin() + static_cast<std::ptrdiff_t>(at + stored));
    at += stored;
    out.push_back(std::move(p));
  }
  if (at != bytes.size()) {
    throw std::runtime_error("the PiPL has " + std::to_string(bytes.size() - at) +
                             " bytes after its last property");
  }
  return out;
}

std::vector<std::string> CheckPipl(const std::vector<PiplProperty>& properties,
                                   const ReportedSetup& reported) {
  const std::vector<Expected> expected = {
      {"kind", Code("eFKT"), 4},
      {"name", Pascal(TILVANE_NAME), TILVANE_PIPL_NAME_SIZE},
      {"catg", Pascal(TILVANE_CATEGORY), TILVANE_PIPL_CATEGORY_SIZE},
      {"8664", CString(TILVANE_ENTRY_POINT), TILVANE_PIPL_ENTRY_POINT_SIZE},
      {"ePVR", Version(2, 0), 4},
      {"eSVR", Version(13, 2), 4},
      {"eVER", Word32(TILVANE_PACKED_VERSION), 4},
      {"eINF", {0, 0, 0, 0}, 2},
      {"eGLO", Word32(TILVANE_OUT_FLAGS), 4},
      {"eGL2", Word32(TILVANE_OUT_FLAGS2), 4},
      {"eMNA", Pascal(TILVANE_MATCH_NAME), TILVANE_PIPL_MATCH_NAME_SIZE},
      {"aeFL", Word32(0), 4},
  };
  std::vector<std::string> problems;
  if (properties.size() != expected.size()) {
    problems.push_back("the PiPL has " + std::to_string(properties.size()) +
                       " properties; it must have " + std::to_string(expected.size()));
  }
  for (size_t i = 0; i < properties.size() && i < expected.size(); ++i) {
    const PiplProperty& p = properties[i];
    const Expected& e = expected[i];
    const std::string where = "property " + std::to_string(i + 1) + " (" + p.key + ")";
    if (p.key != e.key) problems.push_back(where + " must be " + e.key);
    if (p.vendor != "8BIM") problems.push_back(where + " has vendor " + p.vendor);
    if (p.id != 0) problems.push_back(where + " has id " + std::to_string(p.id));
    if (p.length != e.length) {
      problems.push_back(where + " has length " + std::to_string(p.length) + ", not " +
                         std::to_string(e.length));
    }
    if (p.data != e.data) {
      problems.push_back(where + " holds " + Hex(p.data) + ", not " + Hex(e.data));
    }
  }
  // The host compares these with what global set-up reports.
  for (const PiplProperty& p : properties) {
    if (p.data.size() != 4) continue;
    const uint32_t v = Le32(p.data, 0);
    if (p.key == "eVER" && v != reported.version) {
      problems.push_back("eVER " + std::to_string(v) + " differs from my_version " +
                         std::to_string(reported.version));
    }
    if (p.key == "eGLO" && v != static_cast<uint32_t>(reported.outFlags)) {
      problems.push_back("eGLO " + std::to_string(v) + " differs from out_flags " +
                         std::to_string(reported.outFlags));
    }
    if (p.key == "eGL2" && v != static_cast<uint32_t>(reported.outFlags2)) {
      problems.push_back("eGL2 " + std::to_string(v) + " differs from out_flags2 " +
                         std::to_string(reported.outFlags2));
    }
  }
  return problems;
}

#if defined(_WIN32)

namespace {

std::vector<uint8_t> ReadResource(const std::string& modulePath, LPCSTR type, WORD id, WORD lang,
                                  const std::string& what) {
  HMODULE module = LoadLibraryExA(modulePath.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (module == nullptr) throw std::runtime_error("cannot open " + modulePath + " as a module");
  struct Free {
    HMODULE m;
    ~Free() { FreeLibrary(m); }
  } release{module};
  HRSRC found = FindResourceExA(module, type, MAKEINTRESOURCEA(id), lang);
  if (found == nullptr) throw std::runtime_error(modulePath + " has no " + what);
  HGLOBAL loaded = LoadResource(module, found);
  const DWORD size = SizeofResource(module, found);
  const auto* data = static_cast<const uint8_t*>(LockResource(loaded));
  if (data == nullptr) throw std::runtime_error("cannot read the " + what + " of " + modulePath);
  return std::vector<uint8_t>(data, data + size);
}

}  // namespace

std::vector<uint8_t> ReadPiplResource(const std::string& modulePath) {
  return ReadResource(modulePath, "PIPL", 16000, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US),
                      "PIPL resource 16000 (language 1033)");
}

std::string ReadManifestResource(const std::string& modulePath) {
  const auto bytes =
      ReadResource(modulePath, MAKEINTRESOURCEA(24), 2,
                   MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), "manifest resource 2");
  return std::string(bytes.begin(), bytes.end());
}

#else

std::vector<uint8_t> ReadPiplResource(const std::string& modulePath) {
  throw std::runtime_error("reading the PiPL of " + modulePath + " needs the Windows resource API");
}

std::string ReadManifestResource(const std::string& modulePath) {
  throw std::runtime_error("reading the manifest of " + modulePath +
                           " needs the Windows resource API");
}

#endif

}  // namespace checker
