#pragma once

#include <cstddef>
#include <cstdint>
#include <future>
#include <map>
#include <memory>
#include <string>

#include "books/cached_book_service.h"
#include "util/worker_pool.h"

namespace morva {

// Never waits: a book that is not cached is downloaded on one of the service's download threads,
// and GetBookRef answers with a BookRefStatus until a later call for the same key collects the
// result. Destroying the service waits for the downloads still running and drops those queued.
class AsyncBookService : public CachedBookService {
  public:
    AsyncBookService(std::int32_t cacheLifetime, std::shared_ptr<AuthService> auth,
                     std::shared_ptr<BookSource> source,
                     std::shared_ptr<const Clock> clock = RealClock());

    std::int32_t GetBookRef(const std::u16string& instrument, std::int64_t time) override;

    // Downloads that run at once; more wait in the queue, where a terminal with many charts
    // loses less than it would to hundreds of threads competing for its cores.
    static constexpr std::size_t kDownloadThreads = 8;

  private:
    // Guarded by storeMutex_. The tasks own copies of all they use and never touch the service.
    std::map<BookKey, std::future<StrataBook>, BookKeyLess> pending_;
    WorkerPool downloads_{kDownloadThreads};
};

}  // namespace morva
