#include "books/cached_book_service.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "base/log.h"
#include "base/morva_error.h"
#include "util/utf.h"

namespace morva {

namespace {

constexpr auto kHeld = std::chrono::steady_clock::time_point::max();

// Cuts at capacity - 1 units plus the terminating null, never between the halves of a pair.
void CopyText(const std::u16string& text, char16_t* out, std::size_t capacity) {
    if (capacity == 0) {
        return;
    }
    std::size_t length = std::min(text.size(), capacity - 1);
    if (length < text.size() && length > 0 && text[length - 1] >= 0xD800 &&
        text[length - 1] <= 0xDBFF) {
        --length;
    }
    std::copy_n(text.data(), length, out);
    out[length] = u'\0';
}

}  // namespace

CachedBookService::CachedBookService(std::int32_t cacheLifetime, BookRefSequence& refs,
                                     std::shared_ptr<AuthService> auth,
                                     std::shared_ptr<BookSource> source,
                                     std::shared_ptr<const Clock> clock)
    : cacheLifetime_(cacheLifetime),
      refs_(refs),
      auth_(std::move(auth)),
      source_(std::move(source)),
      clock_(std::move(clock)) {}

std::int32_t CachedBookService::GetBookRef(const std::u16string& instrument, std::int64_t time) {
    if (instrument.empty()) {
        throw MorvaError("Book must have an instrument");
    }
    const std::lock_guard lock(storeMutex_);
    if (const std::int32_t ref = FindCachedRef(instrument, time); ref > 0) {
        MORVA_LOG_DEBUG("Book({}, {}) #{} is cached", instrument, time, ref);
        return ref;
    }
    // Loading under the lock is deliberate: a second caller waits rather than downloading twice.
    const AccessToken token = auth_->GetAccessToken();
    StrataBook book = source_->GetBook(token, instrument, time);
    const std::int32_t ref = StoreBook(BookKey{instrument, time}, std::move(book));
    MORVA_LOG_DEBUG("Book({}, {}) #{} has been loaded", instrument, time, ref);
    return ref;
}

void CachedBookService::FreeBookRef(std::int32_t ref) {
    const std::lock_guard lock(storeMutex_);
    if (const auto book = booksByRef_.find(ref); book != booksByRef_.end()) {
        const auto key = refsByKey_.find(BookKeyView{book->second.instrument, book->second.time});
        // Only the first release starts the countdown.
        if (key != refsByKey_.end() && key->second.expiresAt == kHeld) {
            key->second.expiresAt = clock_->SteadyNow() + std::chrono::seconds(cacheLifetime_);
            firstExpiry_ = std::min(firstExpiry_, key->second.expiresAt);
        }
    }
    const auto now = clock_->SteadyNow();
    // An indicator frees every book it reads: sweeping all keys each time, under the lock every
    // export takes, would cost every caller. Only a release after an expiry sweeps.
    if (firstExpiry_ >= now) {
        return;
    }
    firstExpiry_ = kHeld;
    for (auto key = refsByKey_.begin(); key != refsByKey_.end();) {
        if (key->second.expiresAt < now) {
            booksByRef_.erase(key->second.ref);
            key = refsByKey_.erase(key);
        } else {
            firstExpiry_ = std::min(firstExpiry_, key->second.expiresAt);
            ++key;
        }
    }
}

std::uint64_t CachedBookService::GetBookSize(std::int32_t ref) {
    if (ref < 1) {
        throw MorvaError("Invalid book ref: %d", ref);
    }
    const std::lock_guard lock(storeMutex_);
    return FindBook(ref).book.buckets.size();
}

void CachedBookService::GetBookData(std::int32_t ref, double* shortCounts, double* longCounts,
                                    double* prices, std::int32_t size) {
    if (ref < 1) {
        throw MorvaError("Invalid book ref: %d", ref);
    }
    if (size < 0) {
        throw MorvaError("Book #%d invalid array size of %d", ref, size);
    }
    if (shortCounts == nullptr) {
        throw MorvaError("Book #%d missing shortCounts output", ref);
    }
    if (longCounts == nullptr) {
        throw MorvaError("Book #%d missing longCounts output", ref);
    }
    if (prices == nullptr) {
        throw MorvaError("Book #%d missing prices output", ref);
    }
    const std::lock_guard lock(storeMutex_);
    const std::vector<BookBucket>& buckets = FindBook(ref).book.buckets;
    const std::size_t count = std::min(buckets.size(), static_cast<std::size_t>(size));
    for (std::size_t i = 0; i < count; ++i) {
        shortCounts[i] = buckets[i].shortCountPercent;
        longCounts[i] = buckets[i].longCountPercent;
        prices[i] = buckets[i].price;
    }
}

void CachedBookService::GetBookMetaData(std::int32_t ref, double* bucketWidth, double* price,
                                        std::int32_t* unixTime, std::int32_t size,
                                        char16_t* timeText, char16_t* instrumentText,
                                        std::size_t capacity) {
    if (ref < 1) {
        throw MorvaError("Invalid book ref: %d", ref);
    }
    if (size != 1) {
        throw MorvaError("Book #%d invalid array size of %d", ref, size);
    }
    if (bucketWidth == nullptr) {
        throw MorvaError("Book #%d missing bucketWidth output", ref);
    }
    if (price == nullptr) {
        throw MorvaError("Book #%d missing price output", ref);
    }
    if (unixTime == nullptr) {
        throw MorvaError("Book #%d missing unixTime output", ref);
    }
    if (timeText == nullptr) {
        throw MorvaError("Book #%d missing time output", ref);
    }
    if (instrumentText == nullptr) {
        throw MorvaError("Book #%d missing instrument output", ref);
    }
    const std::lock_guard lock(storeMutex_);
    const StrataBook& book = FindBook(ref).book;
    *bucketWidth = book.bucketWidth;
    *price = book.price;
    *unixTime = static_cast<std::int32_t>(book.unixTime);
    CopyText(Utf8ToUtf16(book.time), timeText, capacity);
    CopyText(Utf8ToUtf16(book.instrument), instrumentText, capacity);
}

std::int32_t CachedBookService::FindCachedRef(std::u16string_view instrument,
                                              std::int64_t time) const {
    const auto key = refsByKey_.find(BookKeyView{instrument, time});
    if (key == refsByKey_.end() || key->second.ref < 1) {
        return 0;
    }
    // A held book needs no clock read.
    if (key->second.expiresAt != kHeld && clock_->SteadyNow() > key->second.expiresAt) {
        return 0;
    }
    return key->second.ref;
}

std::int32_t CachedBookService::StoreBook(BookKey key, StrataBook book) {
    const std::int32_t ref = refs_.Next();
    const auto [entry, inserted] = refsByKey_.try_emplace(key, KeyEntry{ref, kHeld});
    if (!inserted) {
        // A reader still holding the old reference gets "not found" from now on.
        booksByRef_.erase(entry->second.ref);
        entry->second = KeyEntry{ref, kHeld};
    }
    booksByRef_.insert_or_assign(ref,
                                 BookEntry{std::move(key.instrument), key.time, std::move(book)});
    return ref;
}

const BookEntry& CachedBookService::FindBook(std::int32_t ref) const {
    const auto book = booksByRef_.find(ref);
    if (book == booksByRef_.end()) {
        throw MorvaError("Book #%d not found", ref);
    }
    return book->second;
}

}  // namespace morva
