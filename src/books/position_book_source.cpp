#include "books/position_book_source.h"

#include <chrono>

#include "base/log.h"

namespace morva {

PositionBookSource::PositionBookSource(std::shared_ptr<StrataClient> client,
                                       std::shared_ptr<const Clock> clock)
    : client_(std::move(client)), clock_(std::move(clock)) {}

StrataBook PositionBookSource::GetBook(AccessToken token, const std::u16string& instrument,
                                       std::int64_t time) {
    const auto start = clock_->SteadyNow();
    StrataBook book = client_->GetPositionBook(token, instrument, time);
    const std::chrono::duration<double> elapsed = clock_->SteadyNow() - start;
    MORVA_LOG_INFO("Loaded PositionBook for {} at {} in {:.6f}s", book.instrument, book.time,
                   elapsed.count());
    return book;
}

}  // namespace morva
