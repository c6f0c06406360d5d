#pragma once

#include <stdlib.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/files.h"

namespace morva::test {

// The process's temporary directory, where sign-ins keep their data, moved to a private one for as
// long as this lives.
class PrivateTemp {
  public:
    PrivateTemp() { _wputenv_s(L"TMP", folder_.path().c_str()); }
    ~PrivateTemp() { _wputenv_s(L"TMP", old_.c_str()); }

    const std::filesystem::path& path() const { return folder_.path(); }

    // The names of the sign-in data folders in it.
    std::vector<std::string> DataFolders() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(folder_.path())) {
            const std::string name = entry.path().filename().string();
            if (name.starts_with("MORVA_Orderbook_WebView_")) {
                names.push_back(name);
            }
        }
        return names;
    }

  private:
    std::wstring old_ = _wgetenv(L"TMP") != nullptr ? _wgetenv(L"TMP") : L"";
    TempFolder folder_;
};

}  // namespace morva::test
