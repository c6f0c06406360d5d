// The Windows build's choice of system conversions. Windows only: the other builds have no
// system conversions to choose from.
#ifdef _WIN32

#include <gtest/gtest.h>
#include <windows.h>

#include <memory>
#include <string>

#include "time/mt_time_converter.h"
#include "time/win_time_zone.h"
#include "time_vectors.h"

namespace morva {
namespace {

bool RunsUnderWine() {
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

bool Kernel32HasExConversions() {
    const HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
    return GetProcAddress(kernel32, "TzSpecificLocalTimeToSystemTimeEx") != nullptr &&
           GetProcAddress(kernel32, "SystemTimeToTzSpecificLocalTimeEx") != nullptr;
}

TEST(WindowsZoneConversions, TheExFormsAreUsedExactlyWhereKernel32HasThem) {
    EXPECT_EQ(time_detail::PreferredZoneConversions().exForms, Kernel32HasExConversions());
    if (RunsUnderWine()) {
        // What makes the fallback necessary (and the vectors a test of it) here.
        EXPECT_FALSE(Kernel32HasExConversions()) << "Wine gained the ...Ex forms: revisit";
    }
    EXPECT_FALSE(time_detail::YearRuleZoneConversions().exForms);
}

// The vectors' 2006 and 2007 rows show the fallback takes the rules of the time's own year.
TEST(WindowsZoneConversions, TheYearRuleFallbackAgreesWithTheSharedVectors) {
    test::CheckTimeVectors([](std::int32_t offsetMinutes, const std::u16string& zone) {
        return std::make_unique<MTTimeConverter>(offsetMinutes, zone,
                                                 time_detail::YearRuleZoneConversions());
    });
}

}  // namespace
}  // namespace morva

#endif  // _WIN32
