// The runtime lookup against the real registry and file system, under a key of this test's own so
// that other tests in the same prefix never see its runtimes.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "auth/webview2_runtime.h"
#include "base/registry_key_win.h"
#include "support/files.h"

namespace morva {
namespace {

const std::wstring kArchitecture = sizeof(void*) == 8 ? L"x64" : L"x86";
const std::wstring kOtherArchitecture = sizeof(void*) == 8 ? L"x86" : L"x64";

std::wstring TestKey() {
    return L"Software\\MorvaTest\\WebView2Runtime\\" + std::to_wstring(GetCurrentProcessId());
}

// Records `folder` as an installed runtime, as the updater does, until destroyed.
class RecordedRuntime {
  public:
    RecordedRuntime(HKEY root, REGSAM view, const std::filesystem::path& folder)
        : root_(root), view_(view) {
        HKEY key = nullptr;
        EXPECT_EQ(RegCreateKeyExW(root, TestKey().c_str(), 0, nullptr, 0, KEY_SET_VALUE | view,
                                  nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        const UniqueRegistryKey owner(key);
        const std::wstring value = folder.wstring();
        EXPECT_EQ(RegSetValueExW(key, L"EBWebView", 0, REG_SZ,
                                 reinterpret_cast<const BYTE*>(value.c_str()),
                                 static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))),
                  ERROR_SUCCESS);
    }
    ~RecordedRuntime() { RegDeleteKeyExW(root_, TestKey().c_str(), view_, 0); }
    RecordedRuntime(const RecordedRuntime&) = delete;
    RecordedRuntime& operator=(const RecordedRuntime&) = delete;

  private:
    HKEY root_;
    REGSAM view_;
};

class FixedRuntimeFolder {
  public:
    explicit FixedRuntimeFolder(const std::filesystem::path& folder) {
        _wputenv_s(L"WEBVIEW2_BROWSER_EXECUTABLE_FOLDER", folder.c_str());
    }
    ~FixedRuntimeFolder() { _wputenv_s(L"WEBVIEW2_BROWSER_EXECUTABLE_FOLDER", L""); }
    FixedRuntimeFolder(const FixedRuntimeFolder&) = delete;
    FixedRuntimeFolder& operator=(const FixedRuntimeFolder&) = delete;
};

std::filesystem::path ClientLibrary(const std::filesystem::path& folder,
                                    const std::wstring& architecture) {
    const std::filesystem::path library =
        folder / L"EBWebView" / architecture / L"EmbeddedBrowserWebView.dll";
    std::filesystem::create_directories(library.parent_path());
    test::WriteFile(library, "MZ");
    return library;
}

// The client library of the runtime found, when it is a fixed-version one exactly if `fixed`.
std::optional<std::filesystem::path> Found(bool fixed = false) {
    const std::wstring key = TestKey();
    const std::optional<WebView2Runtime> runtime =
        FindWebView2Runtime(std::u16string(key.begin(), key.end()));
    if (!runtime || runtime->fixedVersion != fixed) {
        return std::nullopt;
    }
    return std::filesystem::path(
        std::wstring(runtime->clientLibrary.begin(), runtime->clientLibrary.end()));
}

TEST(WebView2RuntimeWinTest, FindsTheNewestRuntimeOfTheMachineOrTheUserForItsArchitecture) {
    const test::TempFolder temp;
    EXPECT_EQ(Found(), std::nullopt);

    // The machine's runtime in the 32-bit view, as the updater records it; the user's is newer
    // but lacks this architecture's library.
    const std::filesystem::path machine = temp.path() / L"Machine" / L"120.0.2210.91";
    const std::filesystem::path user = temp.path() / L"User" / L"121.0.1.0";
    const std::filesystem::path library = ClientLibrary(machine, kArchitecture);
    ClientLibrary(user, kOtherArchitecture);
    {
        const RecordedRuntime machineRuntime(HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY, machine);
        const RecordedRuntime userRuntime(HKEY_CURRENT_USER, KEY_WOW64_64KEY, user);
        EXPECT_EQ(Found(), library);

        // Once the user's runtime has this architecture's library, it is the newer one.
        const std::filesystem::path newer = ClientLibrary(user, kArchitecture);
        EXPECT_EQ(Found(), newer);

        // A fixed-version folder decides alone: its runtime, or none at all.
        const std::filesystem::path fixed = temp.path() / L"Fixed";
        {
            const FixedRuntimeFolder useFixed(fixed);
            EXPECT_EQ(Found(), std::nullopt);
            EXPECT_EQ(Found(true), ClientLibrary(fixed, kArchitecture));
        }
        EXPECT_EQ(Found(), newer);
    }
    EXPECT_EQ(Found(), std::nullopt);
}

}  // namespace
}  // namespace morva
