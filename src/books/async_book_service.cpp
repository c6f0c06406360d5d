#include "books/async_book_service.h"

#include <chrono>
#include <future>
#include <iterator>
#include <utility>

#include "base/log.h"
#include "base/morva_error.h"

namespace morva {

namespace {

// Once a second: often enough to keep the table small, rarely enough that a walk over it costs
// callers nothing that matters.
constexpr auto kSweepInterval = std::chrono::seconds(1);

bool IsReady(const std::future<Outcome<StrataBook>>& book) {
    return book.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
}

// Held by a download while it runs. Given back before its result is ready, so that whoever finds
// the result finds the place free too.
class LoadingPlace {
  public:
    explicit LoadingPlace(std::atomic<std::size_t>& loading) noexcept : loading_(loading) {}
    ~LoadingPlace() { loading_.fetch_sub(1); }
    LoadingPlace(const LoadingPlace&) = delete;
    LoadingPlace& operator=(const LoadingPlace&) = delete;

  private:
    std::atomic<std::size_t>& loading_;
};

}  // namespace

AsyncBookService::AsyncBookService(std::int32_t cacheLifetime, BookRefSequence& refs,
                                   std::shared_ptr<AuthService> auth,
                                   std::shared_ptr<BookSource> source,
                                   std::shared_ptr<const Clock> clock)
    : CachedBookService(cacheLifetime, refs, std::move(auth), std::move(source), std::move(clock)) {
}

std::int32_t AsyncBookService::GetBookRef(const std::u16string& instrument, std::int64_t time) {
    if (instrument.empty()) {
        throw MorvaError("Book must have an instrument");
    }
    std::packaged_task<Outcome<StrataBook>()> download;
    PendingMap dropped;  // declared before the lock: their books are freed after it
    {
        const std::lock_guard lock(storeMutex_);
        if (const std::int32_t ref = FindCachedRef(instrument, time); ref > 0) {
            MORVA_LOG_DEBUG("Book({}, {}) #{} is cached", instrument, time, ref);
            return ref;
        }
        const auto now = clock().SteadyNow();
        TakeAbandoned(now, dropped);
        if (const auto pending = pending_.find(BookKeyView{instrument, time});
            pending != pending_.end()) {
            if (!IsReady(pending->second.book)) {
                pending->second.askedAt = now;
                MORVA_LOG_DEBUG("Book({}, {}) is still loading", instrument, time);
                return static_cast<std::int32_t>(BookRefStatus::StillLoading);
            }
            // Erased before reading, so that a failure is reported once and the next call retries.
            std::future<Outcome<StrataBook>> finished = std::move(pending->second.book);
            pending_.erase(pending);
            StrataBook book;
            try {
                book = finished.get().Take();
            } catch (const InvalidInstrumentError& error) {
                MORVA_LOG_DEBUG("Book({}, {}) is not valid [{}]", instrument, time, error.what());
                return static_cast<std::int32_t>(BookRefStatus::DoesNotExist);
            }
            const std::int32_t ref = StoreBook(BookKey{instrument, time}, std::move(book));
            MORVA_LOG_DEBUG("Book({}, {}) #{} is ready", instrument, time, ref);
            return ref;
        }
        const std::shared_future<AccessToken> token = auth().GetAccessTokenAsync();
        if (token.wait_for(std::chrono::seconds(0)) != std::future_status::ready) {
            MORVA_LOG_DEBUG("Book({}, {}) is waiting for authorization", instrument, time);
            return static_cast<std::int32_t>(BookRefStatus::WaitingForAuthorization);
        }
        token.get();  // a failed sign-in is this call's failure, and every later call's
        if (loading_->load() >= kMaxLoading) {
            MORVA_LOG_DEBUG("Book({}, {}) waits for room in the download queue", instrument, time);
            return static_cast<std::int32_t>(BookRefStatus::StillLoading);
        }
        // The task gets copies of everything it uses, so it can outlive this call's arguments;
        // the token is copied out of its shared state there, not under the lock.
        download = std::packaged_task<Outcome<StrataBook>()>(
            [source = source(), token, instrument, time, loading = loading_] {
                const LoadingPlace place(*loading);
                return Outcome<StrataBook>::Of(
                    [&] { return source->GetBook(token.get(), instrument, time); });
            });
        pending_.try_emplace(BookKey{instrument, time}, Pending{download.get_future(), now});
        loading_->fetch_add(1);
    }
    // Handed over outside the lock: waking a download thread, or starting one, must not keep
    // other callers waiting. The key is pending already, so nobody starts it twice.
    try {
        downloads_.Run(std::move(download));
    } catch (...) {
        // No thread could take it: its future reports a broken promise, which is no text for an
        // indicator. Forgotten instead, so that the next call starts over.
        const std::lock_guard lock(storeMutex_);
        loading_->fetch_sub(1);  // it never ran to give its place back
        if (const auto pending = pending_.find(BookKeyView{instrument, time});
            pending != pending_.end() && IsReady(pending->second.book)) {
            pending_.erase(pending);
        }
        throw;
    }
    MORVA_LOG_DEBUG("Book({}, {}) started loading", instrument, time);
    return static_cast<std::int32_t>(BookRefStatus::StartedLoading);
}

void AsyncBookService::TakeAbandoned(std::chrono::steady_clock::time_point now,
                                     PendingMap& dropped) {
    if (now < nextSweep_) {
        return;
    }
    nextSweep_ = now + kSweepInterval;
    for (auto pending = pending_.begin(); pending != pending_.end();) {
        const auto next = std::next(pending);
        // One still running stays: forgotten, it could be started a second time.
        if (now - pending->second.askedAt > cacheLifetime() && IsReady(pending->second.book)) {
            dropped.insert(pending_.extract(pending));
        }
        pending = next;
    }
}

std::size_t AsyncBookService::PendingCount() const {
    const std::lock_guard lock(storeMutex_);
    return pending_.size();
}

}  // namespace morva
