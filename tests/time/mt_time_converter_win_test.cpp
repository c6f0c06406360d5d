// The Windows build's choice of system conversions. Windows only: the other builds have no
// system conversions to choose from.
#ifdef _WIN32

#include <gtest/gtest.h>
#include <windows.h>

#include <memory>
#include <string>

#include "time/mt_time_converter.h"
#include "time/win_time_zone.h"
#include "vector_checks.h"

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
        EXPECT_FALSE(time_detail::PreferredZoneConversions().exForms);
    }
    EXPECT_FALSE(time_detail::YearRuleZoneConversions().exForms);
}

TEST(WindowsZoneConversions, TheYearRuleFallbackAgreesWithTheSharedVectors) {
    test::CheckTimeVectors([](std::int32_t offsetMinutes, const std::u16string& zone) {
        return std::make_unique<MTTimeConverter>(offsetMinutes, zone,
                                                 time_detail::YearRuleZoneConversions());
    });
}

TEST(WindowsZoneConversions, YearRulesFollowTheYearOfTheTimeConverted) {
    // New York: 2006-03-20 was winter under that year's rules, 2007-03-20 summer.
    DYNAMIC_TIME_ZONE_INFORMATION zone{};
    for (DWORD index = 0; time_detail::EnumZones()(index, &zone) != ERROR_NO_MORE_ITEMS; ++index) {
        if (std::wstring(zone.TimeZoneKeyName) == L"Eastern Standard Time") {
            break;
        }
    }
    ASSERT_EQ(std::wstring(zone.TimeZoneKeyName), L"Eastern Standard Time");
    for (const auto& [year, expectedHour] : {std::pair<WORD, WORD>{2006, 17}, {2007, 16}}) {
        SYSTEMTIME local{};
        local.wYear = year;
        local.wMonth = 3;
        local.wDay = 20;
        local.wHour = 12;
        SYSTEMTIME utc{};
        ASSERT_TRUE(time_detail::LocalToUtcByYearRules(&zone, &local, &utc));
        EXPECT_EQ(utc.wHour, expectedHour) << year;
        SYSTEMTIME back{};
        ASSERT_TRUE(time_detail::UtcToLocalByYearRules(&zone, &utc, &back));
        EXPECT_EQ(back.wHour, 12) << year;
    }
}

}  // namespace
}  // namespace morva

#endif  // _WIN32
