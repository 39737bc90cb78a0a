#include "checker/pe_image.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace checker {
namespace {

struct Image {
  std::vector<uint8_t> bytes;
  std::string path;

  uint32_t u32(size_t at) const {
    need(at, 4);
    return uint32_t{bytes[at]} | uint32_t{bytes[at + 1]} << 8 | uint32_t{bytes[at + 2]} << 16 |
           uint32_t{bytes[at + 3]} << 24;
  }
  uint16_t u16(size_t at) const {
    need(at, 2);
    return static_cast<uint16_t>(bytes[at] | bytes[at + 1] << 8);
  }
  void need(size_t at, size_t n) const {
    if (at > bytes.size() || bytes.size() - at < n) {
      throw std::runtime_error(path + " is truncated or not a PE image");
    }
  }
};

// A 64-bit PE file with its section table, for turning addresses into offsets.
struct Module : Image {
  size_t optional = 0;
  size_t sectionTable = 0;
  uint16_t sections = 0;

  explicit Module(const std::string& file) {
    path = file;
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    bytes.assign(std::istreambuf_iterator<char>(in), {});
    if (u16(0) != 0x5A4D) throw std::runtime_error(path + " is not a Windows module");
    const size_t pe = u32(0x3C);
    if (u32(pe) != 0x00004550) throw std::runtime_error(path + " has no PE header");
    const size_t coff = pe + 4;
    sections = u16(coff + 2);
    optional = coff + 20;
    sectionTable = optional + u16(coff + 16);
    if (u16(optional) != 0x20B) throw std::runtime_error(path + " is not a 64-bit image");
  }

  uint32_t directory(int index) const { return u32(optional + 112 + size_t(index) * 8); }

  size_t offsetOf(uint32_t rva) const {
    for (uint16_t i = 0; i < sections; ++i) {
      const size_t s = sectionTable + size_t{i} * 40;
      const uint32_t virtualSize = u32(s + 8);
      const uint32_t address = u32(s + 12);
      const uint32_t rawSize = u32(s + 16);
      const uint32_t rawOffset = u32(s + 20);
      if (rva >= address && rva - address < std::max(virtualSize, rawSize)) {
        return size_t{rawOffset} + (rva - address);
      }
    }
    throw std::runtime_error(path + " has an address outside its sections");
  }

  std::string stringAt(uint32_t rva) const {
    std::string s;
    for (size_t at = offsetOf(rva); bytes.at(at) != 0; ++at) s += static_cast<char>(bytes[at]);
    return s;
  }
};

}  // namespace

std::vector<std::string> ImportedDlls(const std::string& path) {
  const Module m(path);
  std::vector<std::string> dlls;
  const uint32_t importRva = m.directory(1);
  if (importRva == 0) return dlls;
  for (size_t d = m.offsetOf(importRva);; d += 20) {
    const uint32_t nameRva = m.u32(d + 12);
    if (nameRva == 0 && m.u32(d) == 0) break;
    dlls.push_back(m.stringAt(nameRva));
  }
  return dlls;
}

std::vector<std::string> ExportedNames(const std::string& path) {
  const Module m(path);
  std::vector<std::string> names;
  const uint32_t exportRva = m.directory(0);
  if (exportRva == 0) return names;
  const size_t dir = m.offsetOf(exportRva);
  const uint32_t count = m.u32(dir + 24);
  const size_t table = m.offsetOf(m.u32(dir + 32));
  for (uint32_t i = 0; i < count; ++i) names.push_back(m.stringAt(m.u32(table + size_t{i} * 4)));
  return names;
}

bool IsWindowsSystemDll(const std::string& name) {
  std::string lower = name;
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  static const char* const kSystem[] = {"kernel32.dll", "user32.dll",   "advapi32.dll",
                                        "msvcrt.dll",   "ucrtbase.dll", "ntdll.dll",
                                        "shell32.dll",  "ole32.dll",    "gdi32.dll"};
  for (const char* s : kSystem) {
    if (lower == s) return true;
  }
  return lower.rfind("api-ms-win-", 0) == 0;
}

}  // namespace checker
