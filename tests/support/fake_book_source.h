#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include "books/book_service.h"
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
class FakeBookSource : public BookSource {
  public:
    StrataBook GetBook(AccessToken token, const std::u16string& instrument,
                       std::int64_t time) override {
        std::unique_lock lock(mutex_);
        ++started_;
        maxRunning_ = std::max(maxRunning_, started_ - finished_);
        lastToken_ = token.token;
        changed_.notify_all();
        changed_.wait(lock, [&] { return open_; });
        ++finished_;
        changed_.notify_all();
        if (failure_ != nullptr) {
            std::rethrow_exception(failure_);
        }
        return book_ != nullptr ? *book_ : MakeBook(instrument, time);
    }

    void Close() {
        const std::lock_guard lock(mutex_);
        open_ = false;
    }
    void Open() {
        const std::lock_guard lock(mutex_);
        open_ = true;
        changed_.notify_all();
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
    // True when `count` downloads have entered (or left) the source within ten seconds.
    bool WaitStarted(int count) { return WaitFor(started_, count); }
    bool WaitFinished(int count) { return WaitFor(finished_, count); }

    int started() const { return Read(started_); }
    int finished() const { return Read(finished_); }
    // The most downloads that were inside the source at once.
    int maxRunning() const { return Read(maxRunning_); }
    std::string lastToken() const { return Read(lastToken_); }

  private:
    bool WaitFor(const int& counter, int count) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(10), [&] { return counter >= count; });
    }
    template <class T>
    T Read(const T& field) const {
        const std::lock_guard lock(mutex_);
        return field;
    }

    mutable std::mutex mutex_;  // guards everything below
    std::condition_variable changed_;
    bool open_ = true;
    int started_ = 0;
    int finished_ = 0;
    int maxRunning_ = 0;
    std::string lastToken_;
    std::exception_ptr failure_;
    std::unique_ptr<StrataBook> book_;
};

}  // namespace morva::test
