#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <stdexcept>

#include "base/log.h"
#include "books/order_book_source.h"
#include "books/position_book_source.h"
#include "support/captured_log.h"
#include "support/fake_clock.h"

namespace morva {
namespace {

using namespace std::chrono_literals;

// Answers with a book for the requested instrument after the fake clock moved by `takes`.
class TimedClient : public StrataClient {
  public:
    TimedClient(test::FakeClock& clock, std::chrono::nanoseconds duration)
        : takes(duration), clock_(clock) {}

    StrataBook GetOrderBook(const AccessToken& token, const std::u16string&,
                            std::int64_t time) override {
        return Answer("EUR_USD", token, time);
    }
    StrataBook GetPositionBook(const AccessToken& token, const std::u16string&,
                               std::int64_t time) override {
        return Answer("GBP_USD", token, time);
    }
    bool CanAccessPremium(const AccessToken&, const std::u16string&) override { return false; }

    std::chrono::nanoseconds takes;
    bool fail = false;
    std::string lastToken;
    std::int64_t lastTime = -1;

  private:
    StrataBook Answer(const char* instrument, const AccessToken& token, std::int64_t time) {
        lastToken = token.token;
        lastTime = time;
        clock_.Advance(takes);
        if (fail) {
            throw std::runtime_error("download failed");
        }
        StrataBook book;
        book.instrument = instrument;  // as the document spells it, not as requested
        book.time = "2026-12-06T10:20:00Z";
        return book;
    }

    test::FakeClock& clock_;
};

// Six decimals even below a microsecond; a failure leaves no line.
TEST(BookSources, EachLoadedBookLeavesOneTimedLineWithTheDocumentsNames) {
    const auto clock = std::make_shared<test::FakeClock>();
    const auto client = std::make_shared<TimedClient>(*clock, 250ms);
    const morva::test::CapturedLog log(spdlog::level::info);
    const AccessToken token{"Bearer", "t0k3n", 3600, {}, {}};

    OrderBookSource orders(client, clock);
    EXPECT_EQ(orders.GetBook(token, u"eur_usd", 1700000000).instrument, "EUR_USD");
    EXPECT_EQ(client->lastToken, "t0k3n");
    EXPECT_EQ(client->lastTime, 1700000000);

    PositionBookSource positions(client, clock);
    client->takes = 300ns;
    positions.GetBook(token, u"GBP_USD", 0);
    client->fail = true;
    EXPECT_THROW(positions.GetBook(token, u"GBP_USD", 0), std::runtime_error);

    EXPECT_EQ(log.Messages(),
              "info|Loaded OrderBook for EUR_USD at 2026-12-06T10:20:00Z in 0.250000s\n"
              "info|Loaded PositionBook for GBP_USD at 2026-12-06T10:20:00Z in 0.000000s\n");
}

}  // namespace
}  // namespace morva
