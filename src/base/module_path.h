#pragma once

#include <filesystem>

namespace morva {

// The absolute path of the library file that `instance` belongs to: on Windows the module handle,
// elsewhere any address inside the library. Throws MorvaError when it cannot be found.
std::filesystem::path ModuleFilePath(const void* instance);

}  // namespace morva
