// The shared object as a host that loads and unloads it without ever calling InitDLL: whatever the
// load started must still have its code when the library is gone.

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <link.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

namespace {

std::vector<std::string> LoadedObjects() {
    std::vector<std::string> names;
    dl_iterate_phdr(
        [](dl_phdr_info* info, std::size_t /*size*/, void* user) {
            static_cast<std::vector<std::string>*>(user)->emplace_back(info->dlpi_name);
            return 0;
        },
        &names);
    return names;
}

bool Loaded(const std::string& fragment) {
    const std::vector<std::string> names = LoadedObjects();
    return std::any_of(names.begin(), names.end(), [&](const std::string& name) {
        return name.find(fragment) != std::string::npos;
    });
}

TEST(LibraryUnload, ThreadsTheLoadStartedKeepTheirCode) {
    ASSERT_FALSE(Loaded("libjavascriptcoregtk")) << "this program must not link WebKitGTK itself";
    void* library = dlopen(MORVA_LIBRARY_FILE, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << dlerror();
    // WebKitGTK's JavaScriptCore starts its memory scavenger as it loads; nothing stops it.
    ASSERT_TRUE(Loaded("libjavascriptcoregtk"));
    ASSERT_EQ(dlclose(library), 0) << dlerror();

    EXPECT_TRUE(Loaded("libjavascriptcoregtk"))
        << "JavaScriptCore was unmapped under the thread it started";
    EXPECT_FALSE(Loaded(std::filesystem::path(MORVA_LIBRARY_FILE).filename().string()))
        << "the library itself should unload: no InitDLL pinned it";
}

}  // namespace
