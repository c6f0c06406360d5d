#pragma once

#include <cstdint>
#include <future>
#include <map>
#include <memory>
#include <string>

#include "books/cached_book_service.h"

namespace morva {

// Never waits: a book that is not cached is downloaded on a background task, and GetBookRef
// answers with a BookRefStatus until a later call for the same key collects the result.
// Destroying the service waits for the downloads still running.
class AsyncBookService : public CachedBookService {
  public:
    AsyncBookService(std::int32_t cacheLifetime, std::shared_ptr<AuthService> auth,
                     std::shared_ptr<BookSource> source,
                     std::shared_ptr<const Clock> clock = RealClock());

    std::int32_t GetBookRef(const std::u16string& instrument, std::int64_t time) override;

  private:
    // Guarded by storeMutex_. The futures come from std::async, so destroying one waits for its
    // task; the tasks own copies of all they use and never touch the service.
    std::map<BookKey, std::future<StrataBook>, BookKeyLess> pending_;
};

}  // namespace morva
