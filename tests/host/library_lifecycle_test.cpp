#include "host/library_lifecycle.h"

#include <gtest/gtest.h>

#include "base/log.h"

#ifdef _WIN32
extern "C" char __ImageBase;  // the linker's name for the program's own module handle
#endif

namespace morva {
namespace {

void* OwnModule() {
#ifdef _WIN32
    return &__ImageBase;
#else
    return reinterpret_cast<void*>(&OwnModule);
#endif
}

// A terminal that loads the library and unloads it before any InitDLL: nothing may stay behind,
// least of all the open log file, since the next load opens it again.
TEST(LibraryLifecycle, UnloadBeforeInitDllReleasesTheLogger) {
    ASSERT_TRUE(LoadDll(OwnModule()));
    ASSERT_NE(log::Logger(), nullptr) << "the log folder beside the test program could not be made";
    ASSERT_TRUE(UnloadDll());
    EXPECT_EQ(log::Logger(), nullptr);
}

}  // namespace
}  // namespace morva
