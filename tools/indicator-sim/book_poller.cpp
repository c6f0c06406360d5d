#include "book_poller.h"

#include <vector>

#include "failure.h"
#include "session.h"

namespace {

constexpr std::int32_t kStartedLoading = -100;
constexpr std::int32_t kStillLoading = -200;
constexpr std::int32_t kWaitingForAuthorization = -300;
constexpr std::int32_t kDoesNotExist = -400;

bool StillComing(std::int32_t result) {
    return result == kStartedLoading || result == kStillLoading ||
           result == kWaitingForAuthorization;
}

void ThrowIfError(const std::string& call, WideBuffer& error) {
    const std::string text = error.Utf8();
    if (!text.empty()) {
        throw Failure(call + " failed: " + text);
    }
}

}  // namespace

struct BookPoller::KindExports {
    decltype(::OrderBook)* request;
    decltype(::OrderBook_Sz)* size;
    decltype(::OrderBook_BookData)* data;
    decltype(::OrderBook_MetaData)* metaData;
    decltype(::OrderBook_Free)* free;
};

std::string DescribeBookStatus(std::int32_t result, const std::string& text) {
    switch (result) {
        case kStartedLoading:
            return "started loading (-100)";
        case kStillLoading:
            return "still loading (-200)";
        case kWaitingForAuthorization:
            return "waiting for authorization (-300)";
        case kDoesNotExist:
            return "no such instrument (-400): " + text;
        case -1:
            return "failed: " + text;
        default:
            if (result >= 1) {
                return "ready (ref " + std::to_string(result) + ")";
            }
            return "failed (" + std::to_string(result) + "): " + text;
    }
}

BookPoller::BookPoller(const Exports& exports, std::ostream& out) : exports_(exports), out_(out) {}

BookPoller::KindExports BookPoller::For(BookKind kind) const {
    if (kind == BookKind::Order) {
        return {exports_.OrderBook, exports_.OrderBook_Sz, exports_.OrderBook_BookData,
                exports_.OrderBook_MetaData, exports_.OrderBook_Free};
    }
    return {exports_.PositionBook, exports_.PositionBook_Sz, exports_.PositionBook_BookData,
            exports_.PositionBook_MetaData, exports_.PositionBook_Free};
}

void BookPoller::ReadInto(const KindExports& calls, const std::string& name, std::int32_t ref,
                          BookSnapshot& book) {
    const std::string refText = "(" + std::to_string(ref) + ")";
    WideBuffer error;
    const std::int32_t size = calls.size(ref, error.get());
    ThrowIfError(name + "_Sz" + refText, error);
    if (size < 0) {
        throw Failure(name + "_Sz" + refText + " returned " + std::to_string(size));
    }
    const auto count = static_cast<std::size_t>(size);
    book.shorts.assign(count, 0.0);
    book.longs.assign(count, 0.0);
    book.prices.assign(count, 0.0);
    calls.data(ref, book.shorts.data(), book.longs.data(), book.prices.data(), size, error.get());
    ThrowIfError(name + "_BookData" + refText, error);

    WideBuffer timeText, instrumentText;
    calls.metaData(ref, &book.bucketWidth, &book.price, &book.unixTime, &book.serverTime, 1,
                   timeText.get(), instrumentText.get(), error.get());
    ThrowIfError(name + "_MetaData" + refText, error);
    book.timeText = timeText.Utf8();
    book.instrument = instrumentText.Utf8();
}

BookSnapshot BookPoller::Read(BookKind kind, std::int32_t ref) const {
    const KindExports calls = For(kind);
    const std::string name = ExportName(kind);
    const std::string refText = "(" + std::to_string(ref) + ")";
    BookSnapshot book;
    book.kind = kind;
    WideBuffer error;
    try {
        ReadInto(calls, name, ref, book);
    } catch (const Failure&) {
        // Released even so: a terminal that leaks references keeps books alive.
        WideBuffer ignored;
        calls.free(ref, ignored.get());
        throw;
    }
    calls.free(ref, error.get());
    ThrowIfError(name + "_Free" + refText, error);
    return book;
}

std::vector<BookOutcome> BookPoller::Poll(const std::vector<std::string>& instruments,
                                          std::int32_t time, const Deadline& deadline) const {
    struct Pending {
        BookOutcome outcome;
        WideText wide;
        std::int32_t lastResult = 0;
        std::string lastText;
        bool done = false;
    };
    std::vector<Pending> books;
    for (const std::string& instrument : instruments) {
        for (const BookKind kind : {BookKind::Order, BookKind::Position}) {
            books.push_back(
                {{instrument, kind, std::nullopt, {}}, WideText(instrument), 0, {}, false});
        }
    }

    for (std::size_t open = books.size(); open > 0;) {
        for (Pending& book : books) {
            if (book.done) {
                continue;
            }
            const std::string label = book.outcome.instrument + " " + KindName(book.outcome.kind);
            WideBuffer error;
            const std::int32_t result =
                For(book.outcome.kind).request(book.wide.get(), time, error.get());
            const std::string text = error.Utf8();
            if (result != book.lastResult || text != book.lastText) {
                out_ << label << ": " << DescribeBookStatus(result, text) << std::endl;
                book.lastResult = result;
                book.lastText = text;
            }
            if (StillComing(result)) {
                continue;
            }
            book.done = true;
            --open;
            if (result < 1 || !text.empty()) {
                book.outcome.failure = DescribeBookStatus(result, text);
                continue;
            }
            try {
                book.outcome.snapshot = Read(book.outcome.kind, result);
            } catch (const Failure& failure) {
                book.outcome.failure = failure.what();
                out_ << label << ": " << book.outcome.failure << std::endl;
            }
        }
        if (open == 0) {
            break;
        }
        if (deadline.Expired()) {
            for (Pending& book : books) {
                if (!book.done) {
                    book.outcome.failure = deadline.TimeoutText(
                        "the book (last: " + DescribeBookStatus(book.lastResult, book.lastText) +
                        ")");
                }
            }
            break;
        }
        deadline.Pause(kPollPause);
    }

    std::vector<BookOutcome> outcomes;
    for (Pending& book : books) {
        outcomes.push_back(std::move(book.outcome));
    }
    return outcomes;
}
