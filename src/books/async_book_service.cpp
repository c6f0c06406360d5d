#include "books/async_book_service.h"

#include <chrono>
#include <utility>

#include "host/log.h"
#include "host/morva_error.h"

namespace morva {

AsyncBookService::AsyncBookService(std::int32_t cacheLifetime, std::shared_ptr<AuthService> auth,
                                   std::shared_ptr<BookSource> source,
                                   std::shared_ptr<const Clock> clock)
    : CachedBookService(cacheLifetime, std::move(auth), std::move(source), std::move(clock)) {}

std::int32_t AsyncBookService::GetBookRef(const std::u16string& instrument, std::int64_t time) {
    if (instrument.empty()) {
        throw MorvaError("Book must have an instrument");
    }
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
        std::future<StrataBook> download = std::move(pending->second);
        pending_.erase(pending);
        StrataBook book;
        try {
            book = download.get();
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
    // The task gets copies of everything it uses, so it can outlive this call's arguments.
    pending_.try_emplace(
        BookKey{instrument, time},
        std::async(std::launch::async, [source = source(), token = token.get(), instrument, time] {
            return source->GetBook(token, instrument, time);
        }));
    MORVA_LOG_DEBUG("Book({}, {}) started loading", instrument, time);
    return static_cast<std::int32_t>(BookRefStatus::StartedLoading);
}

}  // namespace morva
