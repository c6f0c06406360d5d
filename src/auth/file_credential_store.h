#pragma once

#include <filesystem>

namespace morva::file_store_detail {

// $XDG_DATA_HOME/morva/credentials.json, or ~/.local/share/morva/credentials.json when
// XDG_DATA_HOME is unset or not absolute. Throws MorvaError when neither can be determined.
std::filesystem::path CredentialsFilePath();

}  // namespace morva::file_store_detail
