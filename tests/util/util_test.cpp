// Tests of the small utilities: the UTF-8/UTF-16 converters, the URI helpers, FormatPrintf and
// FormatTruncated, Sha256, SizeTToDWord/ToDWord, WorkerPool, PendingResult(s), NamePattern and
// QualifiedName. Each class's tests sit under a comment naming it and its header.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <future>
#include <memory>
#include <optional>
#include <regex>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "support/decimal_comma_locale.h"
#include "support/gate.h"
#include "util/name_pattern.h"
#include "util/pending_result.h"
#include "util/printf_format.h"
#include "util/qualified_name.h"
#include "util/sha256.h"
#include "util/size_conversion.h"
#include "util/uri.h"
#include "util/utf.h"
#include "util/worker_pool.h"

namespace morva {
namespace {

using test::Gate;
using testing::AllOf;
using testing::HasSubstr;
using testing::StrEq;
using testing::ThrowsMessage;
using namespace std::chrono_literals;
using Pair = std::pair<std::u16string, std::u16string>;

// Utf8ToUtf16, Utf16ToUtf8 (util/utf.h)

struct Encodings {
    std::string utf8;
    std::u16string utf16;
};

// Byte strings spelled out, so the test does not depend on the source file's encoding.
const Encodings kPairs[] = {
    {"plain ASCII", u"plain ASCII"},
    {"caf\xC3\xA9", u"caf\u00E9"},
    {"\xE4\xB8\xAD\xE6\x96\x87", u"\u4E2D\u6587"},
    {"a\xF0\x9F\x98\x80z", u"a\xD83D\xDE00z"},  // U+1F600 as a surrogate pair
};

TEST(UtfRoundTrip, EachWayGivesTheExpectedUnitsAndBytes) {
    for (const Encodings& pair : kPairs) {
        EXPECT_EQ(Utf8ToUtf16(pair.utf8), pair.utf16) << pair.utf8;
        EXPECT_EQ(Utf16ToUtf8(pair.utf16), pair.utf8);
    }
}

TEST(UtfEmpty, EmptyAndNullGiveEmptyAndStringObjectsStopAtTheFirstNull) {
    EXPECT_EQ(Utf8ToUtf16(std::string()), u"");
    EXPECT_EQ(Utf8ToUtf16(static_cast<const char*>(nullptr)), u"");
    EXPECT_EQ(Utf16ToUtf8(std::u16string()), "");
    EXPECT_EQ(Utf16ToUtf8(static_cast<const char16_t*>(nullptr)), "");
    EXPECT_EQ(Utf16ToUtf8(std::u16string(u"ab\0cd", 5)), "ab");
    EXPECT_EQ(Utf8ToUtf16(std::string("\xD0\x96\0tail", 7)), u"\u0416");
}

// The valid text around a bad sequence must survive; how many U+FFFD stand for it differs
// between converters, so only their presence is checked.
void ExpectReplacedBetween(const std::string& input, std::u16string_view before,
                           std::u16string_view after) {
    const std::u16string result = Utf8ToUtf16(input);
    ASSERT_GT(result.size(), before.size() + after.size()) << "nothing replaced the bad bytes";
    EXPECT_EQ(std::u16string_view(result).substr(0, before.size()), before);
    EXPECT_EQ(std::u16string_view(result).substr(result.size() - after.size()), after);
    for (std::size_t i = before.size(); i < result.size() - after.size(); ++i) {
        EXPECT_EQ(result[i], u'\uFFFD') << "at " << i;
    }
}

TEST(UtfInvalidInput, BadUtf8BecomesReplacementCharacters) {
    const struct {
        std::string input;
        std::u16string_view before, after;
    } cases[] = {
        {"ab\x80yz", u"ab", u"yz"},                // lone continuation
        {"\xD0\x96\xE4\xB8z", u"\u0416", u"z"},    // truncated sequence
        {"x\xE4\xB8", u"x", u""},                  // truncated at the end
        {"\xFF\xFE\xE4\xB8\xAD", u"", u"\u4E2D"},  // bytes never valid
    };
    for (const auto& c : cases) {
        ExpectReplacedBetween(c.input, c.before, c.after);
    }
}

TEST(UtfInvalidInput, LoneSurrogatesBecomeReplacementCharacters) {
    const std::pair<std::u16string, std::string> cases[] = {
        {{u'a', char16_t{0xD800}, u'z'}, "a\xEF\xBF\xBDz"},
        {{char16_t{0xDC00}, u'\u0416'}, "\xEF\xBF\xBD\xD0\x96"},
        {{u'x', char16_t{0xDBFF}}, "x\xEF\xBF\xBD"},  // high at the end
    };
    for (const auto& [utf16, utf8] : cases) {
        EXPECT_EQ(Utf16ToUtf8(utf16), utf8);
    }
}

// EncodeUriComponent, DecodeUriComponent, ParseQueryParameters (util/uri.h)

TEST(UriEncode, KeepsLettersDigitsAndTheFourMarksAndEncodesTheRestInUpperCaseHex) {
    const Pair cases[] = {
        {u"ABCXYZabcxyz0123456789-._~", u"ABCXYZabcxyz0123456789-._~"},
        {u"openid offline_access\t\n", u"openid%20offline_access%09%0A"},
        {u"+%&=?#!*'()/", u"%2B%25%26%3D%3F%23%21%2A%27%28%29%2F"},
        {u"a\u2028b", u"a%28b"},  // beyond ASCII only the low byte is kept
    };
    for (const auto& [text, encoded] : cases) {
        EXPECT_EQ(EncodeUriComponent(text), encoded);
    }
    const DecimalCommaLocale locale;  // where one is installed: its letters are not ASCII's
    EXPECT_EQ(EncodeUriComponent(u"Caf\u00e9"), u"Caf%E9");
}

TEST(UriDecode, TurnsEachEscapeIntoOneUnitReadLikeStoiAndCopiesTheRest) {
    const Pair cases[] = {
        {u"%E9%e9", u"\u00E9\u00E9"},
        {u"%00x", std::u16string(u"\0x", 2)},
        {u"a+b c\u0416\u4E2D", u"a+b c\u0416\u4E2D"},
        {u"%-1", u"\uFFFF"},  // read like stoi: -1, as one unit
        // A "0x" prefix would need a third digit, so "0x" reads as 0.
        {u"%0x41", std::u16string{u'\0', u'4', u'1'}},
    };
    for (const auto& [text, decoded] : cases) {
        EXPECT_EQ(DecodeUriComponent(text), decoded);
    }
}

TEST(UriDecode, TooFewCharactersOrNoHexDigitAfterPercentThrowsInvalidArgument) {
    EXPECT_THAT(
        [] { DecodeUriComponent(u"%41%4"); },
        ThrowsMessage<std::invalid_argument>(StrEq("Failed to decode malformed URI component")));
    EXPECT_THAT([] { DecodeUriComponent(u"ok%g1"); },
                ThrowsMessage<std::invalid_argument>(StrEq("invalid stoi argument")));
    EXPECT_THAT([] { ParseQueryParameters(u"x?a=%4"); }, testing::Throws<std::invalid_argument>());
}

TEST(UriQuery, ReadsDecodedPairsAfterTheFirstQuestionMark) {
    const std::pair<std::u16string, QueryMap> cases[] = {
        {u"morva://login/cb?code=a%2Fb&state=x%20y&error_description=n%3Dm",
         {{u"code", u"a/b"}, {u"state", u"x y"}, {u"error_description", u"n=m"}}},
        // The last occurrence wins; a name alone has an empty value.
        {u"x?a=1&b&a=3", {{u"a", u"3"}, {u"b", u""}}},
        // Split at the first equals sign and the first question mark.
        {u"x?a=b=c", {{u"a", u"b=c"}}},
        {u"x?a=1?b=2", {{u"a", u"1?b=2"}}},
        {u"x?a=1&", {{u"a", u"1"}}},
        {u"x?a=1&&b=2", {{u"a", u"1"}, {u"", u""}, {u"b", u"2"}}},
    };
    for (const auto& [uri, query] : cases) {
        EXPECT_EQ(ParseQueryParameters(uri), query);
    }
}

// FormatPrintf, FormatTruncated (util/printf_format.h)

template <class... Args>
std::string Format(std::string_view format, const Args&... args) {
    const std::array<PrintfArg, sizeof...(Args)> list{PrintfArg(args)...};
    std::string out;
    return FormatPrintf(out, format, list) ? out : std::string("<failed>");
}

TEST(PrintfFormat, IntegersFollowTheirLengthModifiers) {
    EXPECT_EQ(Format("%d|%i|%u|%x|%o", -42, 7, 42u, 255, 8), "-42|7|42|ff|10");
    EXPECT_EQ(Format("%lld %zu %hhd", std::int64_t{-5000000000}, std::size_t{12}, 300),
              "-5000000000 12 44");
    EXPECT_EQ(Format("[%5d][%-5d][%05d][%+d]", 42, 42, 42, 42), "[   42][42   ][00042][+42]");
    EXPECT_EQ(Format("[%*d][%-*d]", 4, 7, 3, 7), "[   7][7  ]");
    // A plain %d reads an int, as printf would: wider values wrap the same way.
    EXPECT_EQ(Format("%d %u", std::int64_t{4294967297}, -42), "1 4294967254");
    EXPECT_EQ(Format("%c%%", 'A'), "A%");
}

TEST(PrintfFormat, FloatingPointAndStrings) {
    EXPECT_EQ(Format("%.6f", 1.5), "1.500000");
    EXPECT_EQ(Format("%g", 0.001), "0.001");
    EXPECT_EQ(Format("[%.3s][%6s][%-6s]", "abcdef", "ab", "ab"), "[abc][    ab][ab    ]");
    EXPECT_EQ(Format("%s", std::string("text")), "text");
    EXPECT_EQ(
        Format("%s|%ls", static_cast<const char*>(nullptr), static_cast<const char16_t*>(nullptr)),
        "(null)|(null)");
}

TEST(PrintfFormat, WideArgumentsComeOutAsUtf8) {
    const struct {
        std::u16string_view wide;
        std::string_view utf8;
    } cases[] = {
        {u"EURUSD", "EURUSD"},
        {u"Caf\u00e9", "Caf\xC3\xA9"},
        {u"\U0001F600", "\xF0\x9F\x98\x80"},
        {u"\xD800!", "\xEF\xBF\xBD!"},  // a lone surrogate, as the library's converters treat it
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Format("[%ls]", c.wide), "[" + std::string(c.utf8) + "]");
        EXPECT_EQ(Format("[%ls]", std::u16string(c.wide)), "[" + std::string(c.utf8) + "]");
    }
}

TEST(PrintfFormat, MismatchedOrMissingArgumentsFail) {
    EXPECT_EQ(Format("%d", "text"), "<failed>");
    EXPECT_EQ(Format("%s", u"wide"), "<failed>");
    EXPECT_EQ(Format("%ls", "narrow"), "<failed>");
    EXPECT_EQ(Format("%d %d", 1), "<failed>");
    EXPECT_EQ(Format("trailing %"), "<failed>");
    int written = 0;
    EXPECT_EQ(Format("%n", &written), "<failed>");
    EXPECT_EQ(written, 0);
    EXPECT_EQ(Format("%99999999d", 1), "<failed>");
}

TEST(PrintfFormat, TruncatedFormattingCutsWholeCharactersAndFallsBack) {
    std::array<char, 8> buffer{};
    buffer.fill('x');
    FormatTruncated(buffer.data(), buffer.size(), "fallback", "%s", "0123456789");
    EXPECT_STREQ(buffer.data(), "0123456");
    FormatTruncated(buffer.data(), buffer.size(), "bad", "%d", "not a number");
    EXPECT_STREQ(buffer.data(), "bad");

    const struct {
        std::size_t ascii;
        std::u16string_view tail;
        std::size_t kept;
    } cases[] = {
        {253, u"\u0416", 255},
        {254, u"\u0416", 254},
        {252, u"\U0001F600", 252},
    };
    for (const auto& c : cases) {
        std::array<char, 256> text{};
        FormatTruncated(text.data(), text.size(), "", "%s%ls", std::string(c.ascii, 'a'), c.tail);
        EXPECT_EQ(std::strlen(text.data()), c.kept) << c.ascii;
    }
}

// Sha256 (util/sha256.h)

std::string Hex(const Sha256Digest& digest) {
    constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    for (const std::uint8_t byte : digest) {
        text += kDigits[byte >> 4];
        text += kDigits[byte & 15];
    }
    return text;
}

// FIPS 180 examples, then the lengths around where the padding spills into a second block.
TEST(Sha256, MatchesTheKnownDigests) {
    const std::pair<std::string, const char*> vectors[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {std::string(55, 'a'), "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318"},
        {std::string(64, 'a'), "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb"},
    };
    for (const auto& [message, digest] : vectors) {
        EXPECT_EQ(Hex(Sha256(message)), digest) << message.size() << " bytes";
    }
}

// SizeTToDWord, ToDWord (util/size_conversion.h)

TEST(SizeTToDWord, StoresSizesThatFitAndReportsOrThrowsOnOverflow) {
    const struct {
        std::uint64_t size;
        std::uint32_t status;
        std::uint32_t stored;
    } cases[] = {
        {0xFFFFFFFF, 0, 0xFFFFFFFF},
        {0x100000000, 0x80070216u, 0xFFFFFFFF},
    };
    for (const auto& c : cases) {
        std::uint32_t result = 12345;
        EXPECT_EQ(SizeTToDWord(c.size, result), c.status) << c.size;
        EXPECT_EQ(result, c.stored) << c.size;
    }
    // ToDWord: the throwing form.
    EXPECT_EQ(ToDWord(0xFFFFFFFF), 0xFFFFFFFFu);
    EXPECT_THAT([] { ToDWord(0x100000000); },
                testing::ThrowsMessage<std::overflow_error>(
                    testing::StrEq("Convert size to DWORD failed (0x80070216)")));
}

// WorkerPool (util/worker_pool.h)

constexpr auto kDeadline = 10s;

TEST(WorkerPool, ABurstQueuesBehindItsThreadsAndEveryTaskRuns) {
    Gate gate;
    gate.Close();
    WorkerPool pool(3);
    std::vector<std::future<std::thread::id>> results;
    for (int i = 0; i < 10; ++i) {
        results.push_back(pool.Submit([&gate] {
            const Gate::Pass pass(gate);
            return std::this_thread::get_id();
        }));
    }
    ASSERT_TRUE(gate.WaitStarted(3));
    gate.Open();
    // Ten tasks, each held until the first three were inside: a pool that started a thread per
    // queued task would have run them on more than three threads.
    std::set<std::thread::id> threads;
    for (auto& result : results) {
        ASSERT_EQ(result.wait_for(kDeadline), std::future_status::ready);
        threads.insert(result.get());
    }
    EXPECT_EQ(threads.size(), 3U);
}

TEST(WorkerPool, ResultsAndExceptionsArriveThroughTheFuturesAndTheThreadIsKept) {
    WorkerPool pool(1);
    std::future<void> failure = pool.Submit([] { throw std::runtime_error("download failed"); });
    // Counts the tasks each thread has run: a thread per task would count one every time.
    const auto countOnThisThread = [] {
        thread_local int count = 0;
        return ++count;
    };
    for (int i = 1; i <= 5; ++i) {
        EXPECT_EQ(pool.Submit(countOnThisThread).get(), i);
    }
    // Read once the thread has let go of the failed task, so that the exception dies on this
    // thread: libstdc++ counts an exception's references where TSan cannot see, and would have
    // the thread's release reported as a race with this read.
    EXPECT_THAT([&] { failure.get(); },
                ThrowsMessage<std::runtime_error>(StrEq("download failed")));
}

TEST(WorkerPool, DestructionWaitsForRunningTasksAndDropsQueuedOnes) {
    Gate gate;
    gate.Close();
    auto pool = std::make_unique<WorkerPool>(1);
    std::atomic<bool> finished{false};
    std::future<void> running = pool->Submit([&] {
        const Gate::Pass pass(gate);
        finished = true;
    });
    // Dropped, not run: a run task would have kept its promise.
    std::future<void> queued = pool->Submit([] {});
    ASSERT_TRUE(gate.WaitStarted(1));

    // The running task is let go only once the destructor has dropped the queued one.
    std::future_status dropped = std::future_status::timeout;
    std::thread opener([&] {
        dropped = queued.wait_for(kDeadline);
        gate.Open();
    });
    pool.reset();
    opener.join();
    EXPECT_EQ(dropped, std::future_status::ready);
    EXPECT_TRUE(finished);
    EXPECT_THAT(
        [&] { queued.get(); },
        testing::Throws<std::future_error>(testing::Property(
            &std::future_error::code, std::make_error_code(std::future_errc::broken_promise))));
}

// PendingResult, PendingResults (util/pending_result.h)

TEST(PendingResult, StartsOneTaskAtATimeAndHandsEachResultOutOnce) {
    WorkerPool pool(2);
    Gate gate;
    gate.Close();
    std::atomic<int> started{0};
    const auto echo = [&](int value) {
        ++started;
        const Gate::Pass pass(gate);
        return value;
    };
    PendingResult<int> pending;

    EXPECT_EQ(pending.Poll(pool, echo, 1), std::nullopt);
    EXPECT_EQ(pending.Poll(pool, echo, 2), std::nullopt);  // polls the first, starts nothing
    gate.Open();
    pending.Wait();
    EXPECT_EQ(pending.Poll(pool, echo, 3), 1);
    EXPECT_EQ(started, 1);
    // That the next poll starts over: the failure's test below.
}

// The worker lets go of a finished task at its own pace, often after the poller has handled the
// failure: the thread sanitizer reports it unless the failure belongs to the poller alone.
TEST(PendingResult, HandsEachFailureToThePollerAloneOnceThenStartsOver) {
    WorkerPool pool(1);
    PendingResult<int> pending;
    const auto fail = []() -> int { throw std::runtime_error("lookup failed"); };
    for (int round = 0; round < 2000; ++round) {
        try {
            while (!pending.Poll(pool, fail)) {
                pending.Wait();
            }
            FAIL() << "no exception";
        } catch (const std::runtime_error& error) {
            ASSERT_STREQ(error.what(), "lookup failed");
        }
    }
    std::optional<int> result;
    while (!(result = pending.Poll(pool, [] { return 7; }))) {
        pending.Wait();
    }
    EXPECT_EQ(result, 7);
}

TEST(PendingResults, RunsOneTaskPerKeyAndHandsEachOutcomeOutOnce) {
    WorkerPool pool(2);
    Gate gate;
    gate.Close();
    std::atomic<int> started{0};
    const auto load = [&](const std::string& key) -> std::string {
        ++started;
        const Gate::Pass pass(gate);
        if (key == "bad") {
            throw std::runtime_error("no such key");
        }
        return key + " loaded";
    };
    PendingResults<std::string, std::string> pending;

    EXPECT_EQ(pending.Poll(pool, "a", load), std::nullopt);
    EXPECT_EQ(pending.Poll(pool, "bad", load), std::nullopt);
    EXPECT_EQ(pending.Poll(pool, "a", load), std::nullopt);
    gate.Open();
    pending.Wait();
    EXPECT_EQ(started, 2);
    EXPECT_THROW(pending.Poll(pool, "bad", load), std::runtime_error);
    EXPECT_EQ(pending.Poll(pool, "a", load), "a loaded");

    gate.Close();
    EXPECT_EQ(pending.Poll(pool, "a", load), std::nullopt);
    gate.Open();
    pending.Wait();
    EXPECT_EQ(pending.Poll(pool, "a", load), "a loaded");
    EXPECT_EQ(started, 3);
}

// NamePattern (util/name_pattern.h)

template <class Text>
Text Widen(std::string_view ascii) {
    return Text(ascii.begin(), ascii.end());
}

bool Matches(std::string_view pattern, std::string_view name) {
    return NamePattern(Widen<std::u16string>(pattern)).Matches(Widen<std::u16string>(name));
}

std::vector<std::string> Split(char separator, const std::string& text) {
    std::vector<std::string> parts;
    std::istringstream fields(text);
    for (std::string field; std::getline(fields, field, separator);) {
        parts.push_back(field);
    }
    return parts;
}

// What brokers write, and the corners of the syntax around it, between blanks; the first is
// the empty pattern.
const std::vector<std::string> kAgreementPatterns =
    Split(' ',
          " MORVA.* MORVATest.* ^MORVA-(Live|Demo)-[0-9]+$ MORVA-Live-\\d+ "
          "[A-Z]+Test-?.* (?:a|b)+c? MORVA\\.Live MORVA\\-Live-\\d{1,2} [^a-z]* "
          "[-a]b|[a-]c \\w+\\s\\w+ \\D\\W\\S [\\d.]+ [\\]a]* x{0}a|b{2,}|c{2,3} (ab){2} "
          "a*?b|a+?c|d?? (a*)*b (a|)*c (|a)(b|) () a||b (^a|b)c a$|b a^b ^$ \\x41\\u0062 "
          "a\\tb \\\\|\\*|\\/ ]} []a [^]* ((a)|(b))((c)) (?:(?:M|N)(?:O|P))+ a|ab ab|a "
          "a{3} a{0,2} a{1,1}? (?:ab){0}c Live");

// The names, between bars; the first is the empty name.
const std::vector<std::string> kAgreementNames =
    Split('|',
          "|a|b|c|ab|abab|ac|bc|aab|abc|bb|bbb|ccc|cccc|d|MORVA|MORVA-Live-3|MORVA-Live-|"
          "MORVA-Live-123|MORVA-Demo-12|MORVA-Real-1|MORVATest|MORVATest-Demo|morva-live-3|"
          "MORVA.Live|MORVAxLive|XYZTest-|ABCTest-Demo|Test|12|1.5|a b|a\tb|ab c|5-x|-b|]a|"
          "]}|\\|*|/|Ab|MOMPNO|MONP|aa|aaa|aaaa|XMORVA|MORVA-Live");

TEST(NamePattern, AgreesWithStdRegexOnWhatBrokersWrite) {
    for (const std::string& pattern : kAgreementPatterns) {
        const NamePattern ours(Widen<std::u16string>(pattern));
        const std::wregex theirs(Widen<std::wstring>(pattern), std::regex::ECMAScript);
        for (const std::string& name : kAgreementNames) {
            EXPECT_EQ(ours.Matches(Widen<std::u16string>(name)),
                      std::regex_match(Widen<std::wstring>(name), theirs))
                << "pattern " << pattern << ", name " << name;
        }
    }
}

struct WideCase {
    std::u16string_view pattern;
    std::u16string_view name;
    bool matches;
};

// Surrogate pairs are one character, a lone surrogate is one too; ECMAScript's meanings of the
// classes hold beyond ASCII.
TEST(NamePattern, ReadsUtf16AsEcmaScriptDoes) {
    const WideCase cases[] = {
        {u"^.$", u"\U0001F600", true},
        {u"..", u"\U0001F600", false},
        {u"[\U0001F600-\U0001F602]", u"\U0001F603", false},
        {u"\U0001F600+", u"\U0001F600\U0001F600", true},
        {u"\\uD83D\\uDE00", u"\U0001F600", true},
        {u"\\uD83D.", u"\U0001F600", false},
        {u".", u"\xD800", true},
        {u".", u"\n", false},
        {u".", u"\u2028", false},
        {u"[^a]", u"\n", true},
        {u"\\s", u"\uFEFF", true},
        {u"\\S", u"\u00A0", false},
        {u"\\W", u"\u00E9", true},
        {u"\\d", u"\u0661", false},  // Arabic-Indic one
        {u"[\\b]", u"\b", true},
        {u"\\0", std::u16string_view(u"\0", 1), true},
        {u"a.b", std::u16string_view(u"a\0b", 3), true},
        {u"[^\\0-a]", u"\U0010FFFF", true},
        {u"[^\\s]", u"\u3000", false},
    };
    for (const WideCase& c : cases) {
        EXPECT_EQ(NamePattern(c.pattern).Matches(c.name), c.matches) << "case " << &c - cases;
    }
}

TEST(NamePattern, RefusesWhatItCannotReadSayingWhatAndWhere) {
    const std::pair<const char*, const char*> refusals[] = {
        {"(a)\\1", "Unsupported server name pattern (backreference at offset 3)"},
        {"(?<n>a)\\k<n>", "Unsupported server name pattern (named group at offset 0)"},
        {"a\\k<n>", "Unsupported server name pattern (backreference at offset 1)"},
        {"MORVA(?!-Demo).*", "Unsupported server name pattern (lookahead at offset 5)"},
        {"(?<=a)b", "Unsupported server name pattern (lookbehind at offset 0)"},
        {"(?i)morva", "Unsupported server name pattern (unknown group syntax at offset 0)"},
        {"MORVA\\B", "Unsupported server name pattern (word boundary at offset 5)"},
        {"\\p{L}+", "Unsupported server name pattern (Unicode property at offset 0)"},
        {"\\01", "Unsupported server name pattern (octal escape at offset 0)"},
        {"[\\1]", "Unsupported server name pattern (octal escape at offset 1)"},
        {"\\cA", "Unsupported server name pattern (unknown escape \\c at offset 0)"},
        {"[\\B]", "Unsupported server name pattern (unknown escape \\B at offset 1)"},
        {"(a{100}){100}", "Unsupported server name pattern (repetition too large at offset 8)"},
        // Within the limit until the rest of the pattern is added.
        {"a{2040}bbbbbbbbbbbbbbbbbbbbbbbbbbbbbb",
         "Unsupported server name pattern (repetition too large at offset 1)"},
        {"a{99999999999999999999}", "Unsupported server name pattern (repetition too large"},
        {"MORVA(Live", "Malformed server name pattern (unmatched '(' at offset 5)"},
        {"MORVA)", "Malformed server name pattern (unmatched ')' at offset 5)"},
        {"[a-z", "Malformed server name pattern (unmatched '[' at offset 0)"},
        {"MORVA\\", "Malformed server name pattern (backslash at the end at offset 5)"},
        {"a|*", "Malformed server name pattern (nothing to repeat at offset 2)"},
        {"(+)", "Malformed server name pattern (nothing to repeat at offset 1)"},
        {"a{2}{3}", "Malformed server name pattern (nothing to repeat at offset 4)"},
        {"^*", "Malformed server name pattern (nothing to repeat at offset 1)"},
        {"a$?", "Malformed server name pattern (nothing to repeat at offset 2)"},
        {"a{2", "Malformed server name pattern (incomplete quantifier at offset 1)"},
        {"a{,2}", "Malformed server name pattern (incomplete quantifier at offset 1)"},
        {"a{3,2}", "Malformed server name pattern (quantifier range out of order at offset 1)"},
        {"[z-a]", "Malformed server name pattern (class range out of order at offset 1)"},
        {"[\\d-z]", "Malformed server name pattern (set in a class range at offset 1)"},
        {"[a-\\w]", "Malformed server name pattern (set in a class range at offset 1)"},
        {"\\x4", "Malformed server name pattern (incomplete \\x escape at offset 0)"},
        {"\\u00G1", "Malformed server name pattern (incomplete \\u escape at offset 0)"},
    };
    for (const auto& [pattern, reason] : refusals) {
        EXPECT_THAT([pattern = pattern] { NamePattern(Widen<std::u16string>(pattern)); },
                    ThrowsMessage<std::invalid_argument>(
                        AllOf(HasSubstr(reason), HasSubstr(std::string("): ") + pattern))))
            << pattern;
    }
}

// std::wregex backtracks: these took seconds to hours against a few dozen characters.
TEST(NamePattern, MatchesPathologicalPatternsInLinearTimeUpToTheNameLimit) {
    const std::u16string longest(NamePattern::kMaxNameLength - 1, u'a');
    const std::u16string twoHundred(200, u'a');
    const std::u16string atLimit(NamePattern::kMaxNameLength, u'a');
    const std::u16string overLimit = atLimit + u'a';
    const WideCase cases[] = {
        {u"(.|.|.|.)*Z", u"MORVA-Live-Server-03", false},
        {u"(a*)*b", longest, false},
        {u"(a+a+)+b", longest, false},
        {u"(a?){200}a{200}", twoHundred, true},
        {u"(.*.*.*.*.*.*.*)*Z", longest, false},
        // Never a name over the length limit.
        {u"a*", atLimit, true},
        {u"a*", overLimit, false},
    };
    for (const WideCase& c : cases) {
        EXPECT_EQ(NamePattern(c.pattern).Matches(c.name), c.matches) << "case " << &c - cases;
    }
}

TEST(NamePattern, RefusesPatternsOverTheLengthLimitNamingThem) {
    // The nesting that overflowed std::wregex's recursive compiler.
    const std::string nested = std::string(30'000, '(') + std::string(30'000, ')');
    const std::string justOver(NamePattern::kMaxPatternLength + 1, 'a');
    for (const std::string& pattern : {nested, justOver}) {
        EXPECT_THAT([&] { NamePattern(Widen<std::u16string>(pattern)); },
                    ThrowsMessage<std::invalid_argument>(AllOf(
                        HasSubstr("Unsupported server name pattern (longer than 1024 units): " +
                                  pattern.substr(0, 100)),
                        testing::EndsWith("..."))));
    }
    EXPECT_NO_THROW(
        NamePattern(Widen<std::u16string>(std::string(NamePattern::kMaxPatternLength, 'a'))));
}

TEST(NamePattern, NestsAsDeepAsTheLengthLimitAllows) {
    constexpr std::size_t kDepth = NamePattern::kMaxPatternLength / 2;
    const std::string plain = std::string(kDepth, '(') + std::string(kDepth, ')');
    EXPECT_TRUE(Matches(plain, ""));
    EXPECT_FALSE(Matches(plain, "a"));

    // Every level "(x*|...)y" holds an alternation and a repetition: the y each level adds
    // counts only if every level's state comes back intact when its group closes.
    constexpr std::size_t kLevels = NamePattern::kMaxPatternLength / 8;
    std::string pattern = "a";
    for (std::size_t level = 0; level < kLevels; ++level) {
        pattern = "(x*|" + pattern + ")y";
    }
    ASSERT_LE(pattern.size(), NamePattern::kMaxPatternLength);
    const std::string name = "a" + std::string(kLevels, 'y');
    EXPECT_TRUE(Matches(pattern, name));
    EXPECT_TRUE(Matches(pattern, "xxy"));
    EXPECT_FALSE(Matches(pattern, std::string(kLevels + 1, 'y')));
    EXPECT_FALSE(Matches(pattern, name + "y"));
}

}  // namespace
}  // namespace morva

// QualifiedName (util/qualified_name.h)

// Named so that the name a function sees is known.
namespace morva::naming_test {

template <std::size_t N>
std::string Name(const char (&pretty)[N]) {
    return QualifiedName(pretty).data();
}

struct Service {
    static std::string Member() {
        return QualifiedName<sizeof(__PRETTY_FUNCTION__)>(__PRETTY_FUNCTION__).data();
    }
};

// A lambda's name as the compilers spell it: in the table below.
TEST(QualifiedName, NamesTheEnclosingFunctionWithoutSignature) {
    EXPECT_EQ(Service::Member(), "morva::naming_test::Service::Member");
}

TEST(QualifiedName, StripsReturnTypesParametersAndTemplateNoise) {
    EXPECT_EQ(Name("void morva::Module::InitCreds()"), "morva::Module::InitCreds");
    EXPECT_EQ(Name("const char *morva::X::What(int)"), "morva::X::What");
    EXPECT_EQ(Name("std::map<int, std::string> morva::F(std::vector<int>)"), "morva::F");
    EXPECT_EQ(Name("morva::Module::InitCreds()::<lambda()>"), "morva::Module::InitCreds");
    EXPECT_EQ(Name("auto morva::F()::(anonymous class)::operator()() const"), "morva::F");
    EXPECT_EQ(Name("void (anonymous namespace)::Helper()"), "(anonymous namespace)::Helper");
}

}  // namespace morva::naming_test
