#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <future>
#include <map>
#include <memory>
#include <string>

#include "books/cached_book_service.h"
#include "util/outcome.h"
#include "util/worker_pool.h"

namespace morva {

// Never waits: a book that is not cached is downloaded on one of the service's download threads,
// and GetBookRef answers with a BookRefStatus until a later call for the same key collects the
// result. Destroying the service waits for the downloads still running and drops those queued.
//
// Bounded for indicators that ask with a new time on every call, or charts closed while their books
// load: with kMaxLoading downloads queued or running, a key not yet loading answers StillLoading
// without being queued, and the indicator's next poll asks again. A finished download that nobody
// has asked for within cacheLifetime seconds is dropped.
class AsyncBookService : public CachedBookService {
  public:
    AsyncBookService(std::int32_t cacheLifetime, BookRefSequence& refs,
                     std::shared_ptr<AuthService> auth, std::shared_ptr<BookSource> source,
                     std::shared_ptr<const Clock> clock = RealClock());

    std::int32_t GetBookRef(const std::u16string& instrument, std::int64_t time) override;

    // Downloads that run at once; more wait in the queue, where a terminal with many charts
    // loses less than it would to hundreds of threads competing for its cores.
    static constexpr std::size_t kDownloadThreads = 8;
    // Fifty instruments polled at four times each keep at most 200 loading: a busy terminal is
    // never refused, a runaway indicator is.
    static constexpr std::size_t kMaxLoading = 512;

    // Downloads not yet collected, finished or not.
    std::size_t PendingCount() const;

  private:
    struct Pending {
        std::future<Outcome<StrataBook>> book;
        std::chrono::steady_clock::time_point askedAt;  // the key's latest request
    };
    using PendingMap = std::map<BookKey, Pending, BookKeyLess>;

    // Moves the abandoned downloads into `dropped`, for the caller to destroy after unlocking.
    void TakeAbandoned(std::chrono::steady_clock::time_point now, PendingMap& dropped);

    // Guarded by storeMutex_. The tasks own copies of all they use and never touch the service.
    PendingMap pending_;
    std::chrono::steady_clock::time_point nextSweep_ = std::chrono::steady_clock::time_point::min();
    // Queued or running downloads: raised under storeMutex_, lowered by each task as it ends.
    const std::shared_ptr<std::atomic<std::size_t>> loading_ =
        std::make_shared<std::atomic<std::size_t>>(0);
    WorkerPool downloads_{kDownloadThreads};
};

}  // namespace morva
