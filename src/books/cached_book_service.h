#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "auth/auth_service.h"
#include "books/book_ref_sequence.h"
#include "books/book_service.h"
#include "books/book_source.h"
#include "books/strata_book.h"
#include "util/clock.h"

namespace morva {

// Instrument as the indicator passed it (never case-folded) and UTC time, 0 for the latest book.
struct BookKey {
    std::u16string instrument;
    std::int64_t time = 0;
};

// A key borrowed from the caller, so that a cache hit allocates nothing.
struct BookKeyView {
    std::u16string_view instrument;
    std::int64_t time = 0;
};

// Instrument by UTF-16 code units (a proper prefix first), then time.
struct BookKeyLess {
    using is_transparent = void;

    static BookKeyView View(const BookKey& key) noexcept { return {key.instrument, key.time}; }
    static BookKeyView View(const BookKeyView& key) noexcept { return key; }

    template <class A, class B>
    bool operator()(const A& a, const B& b) const noexcept {
        const BookKeyView left = View(a);
        const BookKeyView right = View(b);
        const int order = left.instrument.compare(right.instrument);
        return order != 0 ? order < 0 : left.time < right.time;
    }
};

struct KeyEntry {
    std::int32_t ref = 0;
    // The largest instant while the book has never been released.
    std::chrono::steady_clock::time_point expiresAt = std::chrono::steady_clock::time_point::max();
};

struct BookEntry {
    std::u16string instrument;
    std::int64_t time = 0;
    StrataBook book;
};

// Loads books synchronously (a miss blocks the caller for the token and the download) and keeps
// them under references drawn from `refs`, which every service of the kind shares, so no two
// services ever hand out one number; a released book stays cached for cacheLifetime seconds.
// Every operation holds the store's mutex from start to end.
class CachedBookService : public BookService {
  public:
    CachedBookService(std::int32_t cacheLifetime, BookRefSequence& refs,
                      std::shared_ptr<AuthService> auth, std::shared_ptr<BookSource> source,
                      std::shared_ptr<const Clock> clock = RealClock());

    std::int32_t GetBookRef(const std::u16string& instrument, std::int64_t time) override;
    void FreeBookRef(std::int32_t ref) override;
    std::uint64_t GetBookSize(std::int32_t ref) override;
    void GetBookData(std::int32_t ref, double* shortCounts, double* longCounts, double* prices,
                     std::int32_t size) override;
    void GetBookMetaData(std::int32_t ref, double* bucketWidth, double* price,
                         std::int32_t* unixTime, std::int32_t size, char16_t* timeText,
                         char16_t* instrumentText, std::size_t capacity) override;

  protected:
    // The rest of the protected interface expects storeMutex_ to be held by the caller.

    // The reference serving the key while it is held or counting down, else 0.
    std::int32_t FindCachedRef(std::u16string_view instrument, std::int64_t time) const;
    // Stores the book under a new reference and drops the key's previous reference at once;
    // stores nothing when the references are used up.
    std::int32_t StoreBook(BookKey key, StrataBook book);

    AuthService& auth() const noexcept { return *auth_; }
    const std::shared_ptr<BookSource>& source() const noexcept { return source_; }
    const Clock& clock() const noexcept { return *clock_; }
    std::chrono::seconds cacheLifetime() const noexcept {
        return std::chrono::seconds(cacheLifetime_);
    }

    mutable std::mutex
        storeMutex_;  // guards refsByKey_, booksByRef_, firstExpiry_ (and subclass state)

  private:
    const BookEntry& FindBook(std::int32_t ref) const;

    const std::int32_t cacheLifetime_;  // seconds
    BookRefSequence& refs_;
    std::map<BookKey, KeyEntry, BookKeyLess> refsByKey_;
    std::map<std::int32_t, BookEntry> booksByRef_;
    // No countdown ends before this (it may be early: a reloaded key is held again).
    std::chrono::steady_clock::time_point firstExpiry_ =
        std::chrono::steady_clock::time_point::max();
    const std::shared_ptr<AuthService> auth_;
    const std::shared_ptr<BookSource> source_;
    const std::shared_ptr<const Clock> clock_;
};

}  // namespace morva
