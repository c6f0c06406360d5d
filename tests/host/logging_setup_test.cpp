#include "host/logging_setup.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <string_view>

#include "base/log.h"
#include "base/module_path.h"
#include "base/morva_error.h"
#include "support/files.h"

int FreeLogProbe() {
    const int line = __LINE__ + 1;
    MORVA_LOG_WARN("from free function");
    return line;
}

namespace morva {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::TempFolder;
using ::testing::HasSubstr;
using ::testing::Not;

// Counts how often it was formatted, to show what a filtered record costs.
struct Counted {
    int* count;
};

}  // namespace
}  // namespace morva

template <>
struct fmt::formatter<morva::Counted> : fmt::formatter<fmt::string_view> {
    template <class FormatContext>
    auto format(const morva::Counted& counted, FormatContext& ctx) const {
        ++*counted.count;
        return fmt::formatter<fmt::string_view>::format("counted", ctx);
    }
};

namespace morva {
namespace {

// A file-only logger installed as the process's logger; "no logger" again afterwards.
class LogMacro : public ::testing::Test {
  protected:
    void SetUp() override {
        logger_ = MakeLogger(LogSettings{.directory = Logs(), .console = false});
        log::Install(logger_);
    }
    void TearDown() override {
        log::Install(nullptr);
        logger_.reset();  // closes the file, so the folder can go
    }

    fs::path Logs() const { return folder_.path() / "Logs"; }
    std::string LogText() const { return ReadFile(Logs() / "MORVA_Orderbook.log"); }

    TempFolder folder_;
    std::shared_ptr<spdlog::logger> logger_;
};

// ERROR and INFO lines, and no DEBUG ones, in the library's own file: lifecycle_test.sh.
TEST_F(LogMacro, WritesInfoButNeitherFormatsNorWritesDebugOrVerb) {
    int formatted = 0;
    MORVA_LOG_DEBUG("Executing {}", Counted{&formatted});
    MORVA_LOG_VERB("verbose {}", Counted{&formatted});
    MORVA_LOG_INFO("info {}", Counted{&formatted});
    EXPECT_EQ(formatted, 1) << "a filtered record is never even formatted";
    EXPECT_THAT(LogText(), HasSubstr("] info counted\r\n"));
}

TEST_F(LogMacro, WritesWideTextAsUtf8) {
    const std::u16string greeting = u"\u041F\u0440\u0438\u0432\u0435\u0442";  // Привет
    const std::u16string_view world = u"\u043C\u0438\u0440";                  // мир
    const char16_t* letters = u"\u0401\u0416";                                // ЁЖ
    const char16_t* none = nullptr;
    MORVA_LOG_INFO("{}, {}! {} {} {}", greeting, world, letters, none, u"\u00E9");

    EXPECT_THAT(LogText(),
                HasSubstr("] \xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82, "
                          "\xD0\xBC\xD0\xB8\xD1\x80! \xD0\x81\xD0\x96 (null) \xC3\xA9\r\n"));
}

// The "[function@line]" field the log format promises; how names are qualified is QualifiedName's.
TEST_F(LogMacro, NamesTheLoggingFunctionAndLine) {
    const int line = FreeLogProbe();
    const std::string text = LogText();
    EXPECT_THAT(text, HasSubstr(" WARN  ["));
    EXPECT_THAT(text,
                HasSubstr("[FreeLogProbe@" + std::to_string(line) + "] from free function\r\n"));
}

// What an installed logger admits: WritesInfoButNeitherFormatsNorWritesDebugOrVerb.
TEST_F(LogMacro, NoLoggerSendsRecordsNowhere) {
    log::Install(nullptr);
    MORVA_LOG_FATAL("gone");

    log::Install(logger_);
    MORVA_LOG_INFO("back");
    const std::string text = LogText();
    EXPECT_THAT(text, Not(HasSubstr("gone")));
    EXPECT_THAT(text, HasSubstr("back"));
}

class LoggingSetup : public ::testing::Test {
  protected:
    void TearDown() override { log::Install(nullptr); }

    TempFolder folder_;
};

TEST_F(LoggingSetup, WritesIntoLogsBesideTheLibraryFolderAndToStandardOutput) {
    const fs::path terminal =
        folder_.path() / fs::path(u"\u0422\u0435\u0440\u043C\u0438\u043D\u0430\u043B");
    const fs::path library = terminal / "MQL5" / "Libraries" / "MORVA_Orderbook64.dll";

#ifndef _WIN32
    // Captured output is no terminal: lines go there only when asked for.
    setenv("MORVA_LOG_STDOUT", "1", 1);
#endif
    ::testing::internal::CaptureStdout();
    SetUpLogging(library);
    MORVA_LOG_INFO("set up {}", 1);
    const std::string console = ::testing::internal::GetCapturedStdout();
#ifndef _WIN32
    unsetenv("MORVA_LOG_STDOUT");
#endif
    log::Install(nullptr);  // closes the file before it is read and removed

    // The file's byte order mark, line ends and level names: lifecycle_test.sh.
    const std::string text = ReadFile(terminal / "MQL5" / "Logs" / "MORVA_Orderbook.log");
    EXPECT_THAT(text, HasSubstr("] set up 1\r\n"));
    EXPECT_EQ(console, text.substr(3, text.size() - 5) + "\n");
}

TEST_F(LoggingSetup, DirectoryThatCannotBeCreatedThrowsAndInstallsNothing) {
    std::ofstream(folder_.path() / "blocker") << "a file where a folder should be";
    const fs::path library = folder_.path() / "blocker" / "Libraries" / "MORVA_Orderbook64.dll";
    EXPECT_THROW(SetUpLogging(library), fs::filesystem_error);
    EXPECT_EQ(log::Logger(), nullptr);
}

// The library's own path, which puts the log beside it: lifecycle_test.sh.
TEST_F(LoggingSetup, ModuleFilePathOfNoModuleThrows) {
    const int notInAnyModule = 0;
    EXPECT_THROW(ModuleFilePath(&notInAnyModule), MorvaError);
}

}  // namespace
}  // namespace morva
