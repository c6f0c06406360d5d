#include "books/async_book_service.h"

#include <chrono>
#include <future>
#include <utility>

#include "base/log.h"
#include "base/morva_error.h"

namespace morva {

AsyncBookService::AsyncBookService(std::int32_t cacheLifetime, std::shared_ptr<AuthService> auth,
                                   std::shared_ptr<BookSource> source,
                                   std::shared_ptr<const Clock> clock)
    : CachedBookService(cacheLifetime, std::move(auth), std::move(source), std::move(clock)) {}

std::int32_t AsyncBookService::GetBookRef(const std::u16string& instrument, std::int64_t time) {
    if (instrument.empty()) {
        throw MorvaError("Book must have an instrument");
    }
    std::packaged_task<StrataBook()> download;
    {
        const std::lock_guard lock(storeMutex_);
        if (const std::int32_t ref = FindCachedRef(instrument, time); ref > 0) {
            MORVA_LOG_DEBUG("Book({}, {}) #{} is cached", instrument, time, ref);
            return ref;
        }
        if (const auto pending = pending_.find(BookKeyView{instrument, time});
            pending != pending_.end()) {
            if (pending->second.wait_for(std::chrono::seconds(0)) != std::future_status::ready) {
                MORVA_LOG_DEBUG("Book({}, {}) is still loading", instrument, time);
                return static_cast<std::int32_t>(BookRefStatus::StillLoading);
            }
            // Erased before reading, so that a failure is reported once and the next call retries.
            std::future<StrataBook> finished = std::move(pending->second);
            pending_.erase(pending);
            StrataBook book;
            try {
                book = finished.get();
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
        // The task gets copies of everything it uses, so it can outlive this call's arguments;
        // the token is copied out of its shared state there, not under the lock.
        download = std::packaged_task<StrataBook()>([source = source(), token, instrument, time] {
            return source->GetBook(token.get(), instrument, time);
        });
        pending_.try_emplace(BookKey{instrument, time}, download.get_future());
    }
    // Handed over outside the lock: waking a download thread, or starting one, must not keep
    // other callers waiting. The key is pending already, so nobody starts it twice.
    try {
        downloads_.Run(std::move(download));
    } catch (...) {
        // No thread could take it: its future reports a broken promise, which is no text for an
        // indicator. Forgotten instead, so that the next call starts over.
        const std::lock_guard lock(storeMutex_);
        if (const auto pending = pending_.find(BookKeyView{instrument, time});
            pending != pending_.end() &&
            pending->second.wait_for(std::chrono::seconds(0)) == std::future_status::ready) {
            pending_.erase(pending);
        }
        throw;
    }
    MORVA_LOG_DEBUG("Book({}, {}) started loading", instrument, time);
    return static_cast<std::int32_t>(BookRefStatus::StartedLoading);
}

}  // namespace morva
