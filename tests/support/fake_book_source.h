#pragma once

#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include "books/book_service.h"
#include "support/gate.h"
#include "util/utf.h"

namespace morva::test {

// The book a source answers unless a test sets another: three buckets, texts named after the key.
inline StrataBook MakeBook(const std::u16string& instrument, std::int64_t time) {
    StrataBook book;
    book.instrument = Utf16ToUtf8(instrument);
    book.time = "time " + std::to_string(time);
    book.unixTime = time;
    book.price = 1.25;
    book.bucketWidth = 0.0005;
    book.buckets = {{1.0, 10.0, 20.0}, {2.0, 11.0, 21.0}, {3.0, 12.0, 22.0}};
    return book;
}

// A BookSource that counts its downloads and answers MakeBook's book, or the book or failure the
// test set. Once closed, downloads wait inside it until the test opens it again.
class FakeBookSource : public BookSource, public Gate {
  public:
    StrataBook GetBook(AccessToken token, const std::u16string& instrument,
                       std::int64_t time) override {
        const Pass pass(*this);
        const std::lock_guard lock(mutex_);
        lastToken_ = token.token;
        if (failure_ != nullptr) {
            std::rethrow_exception(failure_);
        }
        return book_ != nullptr ? *book_ : MakeBook(instrument, time);
    }

    // Every download fails with this from now on; null makes them answer again.
    void Fail(std::exception_ptr failure) {
        const std::lock_guard lock(mutex_);
        failure_ = std::move(failure);
    }
    void Answer(StrataBook book) {
        const std::lock_guard lock(mutex_);
        book_ = std::make_unique<StrataBook>(std::move(book));
    }
    std::string lastToken() const {
        const std::lock_guard lock(mutex_);
        return lastToken_;
    }

  private:
    mutable std::mutex mutex_;  // guards everything below
    std::string lastToken_;
    std::exception_ptr failure_;
    std::unique_ptr<StrataBook> book_;
};

}  // namespace morva::test
