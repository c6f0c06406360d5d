#pragma once

#include <memory>

#include "books/book_source.h"
#include "books/strata_client.h"
#include "util/clock.h"

namespace morva {

// Position books through the book API client, with one timed log line per book that arrives.
class PositionBookSource : public BookSource {
  public:
    explicit PositionBookSource(std::shared_ptr<StrataClient> client,
                                std::shared_ptr<const Clock> clock = RealClock());

    StrataBook GetBook(AccessToken token, const std::u16string& instrument,
                       std::int64_t time) override;

  private:
    std::shared_ptr<StrataClient> client_;
    std::shared_ptr<const Clock> clock_;
};

}  // namespace morva
