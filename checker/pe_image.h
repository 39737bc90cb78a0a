// What a Windows module imports and exports, read from its file on any system.
#pragma once

#include <string>
#include <vector>

namespace checker {

// Throws std::runtime_error when the file is not a 64-bit PE image.
std::vector<std::string> ImportedDlls(const std::string& path);

// The names the module exports.
std::vector<std::string> ExportedNames(const std::string& path);

// Whether a DLL ships with Windows itself (as opposed to a compiler's
// runtime, which the user would have to install beside the plug-in).
bool IsWindowsSystemDll(const std::string& name);

}  // namespace checker
