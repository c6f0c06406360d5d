// Where the sign-in browser's data folder lives on Linux, and who may look into it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "auth/browser_data_folder.h"
#include "support/files.h"

namespace morva {
namespace {

// An environment variable set (or unset, for null) for as long as this lives.
class ScopedVariable {
  public:
    ScopedVariable(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) {
            old_ = old;
        }
        Set(value);
    }
    ~ScopedVariable() { Set(old_ ? old_->c_str() : nullptr); }
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;

  private:
    void Set(const char* value) {
        if (value != nullptr) {
            setenv(name_, value, 1);
        } else {
            unsetenv(name_);
        }
    }

    const char* name_;
    std::optional<std::string> old_;
};

TEST(BrowserDataFolderPosix, IsTheUsersAloneWhateverTheUmask) {
    const test::TempFolder base;
    const mode_t umaskBefore = umask(0);
    const BrowserDataFolder folder = BrowserDataFolder::Create(base.path());
    umask(umaskBefore);
    struct stat status {};
    ASSERT_EQ(stat(folder.path().c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0700u);
}

TEST(BrowserDataFolderPosix, LivesInTheSessionsRuntimeFolderWhenThereIsOne) {
    const test::TempFolder runtime;
    const test::TempFolder temporary;
    const ScopedVariable tmpdir("TMPDIR", temporary.path().c_str());
    const std::string file = (runtime.path() / "file").string();
    test::WriteFile(file, "");
    const struct {
        std::optional<std::string> runtimeDir;
        std::filesystem::path base;
    } cases[] = {
        {runtime.path().string(), runtime.path()},
        {std::nullopt, temporary.path()},
        {"relative/run", temporary.path()},
        {"/nonexistent/run", temporary.path()},
        {file, temporary.path()},
    };
    for (const auto& c : cases) {
        const ScopedVariable variable("XDG_RUNTIME_DIR",
                                      c.runtimeDir ? c.runtimeDir->c_str() : nullptr);
        EXPECT_EQ(BrowserDataFolder::ForSignIn().path().parent_path(), c.base)
            << c.runtimeDir.value_or("(unset)");
    }
}

TEST(BrowserDataFolderPosix, CleanupLeavesAnotherUsersFoldersAlone) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "only root can give a folder to another user";
    }
    const test::TempFolder base;
    const std::filesystem::path theirs = base.path() / "MORVA_Orderbook_WebView_1700000000";
    std::filesystem::create_directory(theirs);
    ASSERT_EQ(chown(theirs.c_str(), 65534, 65534), 0);

    BrowserDataFolder::RemoveLeftovers(base.path());
    ASSERT_TRUE(std::filesystem::is_directory(theirs));
    EXPECT_TRUE(std::filesystem::is_empty(theirs));  // not even a lock file
}

}  // namespace
}  // namespace morva
