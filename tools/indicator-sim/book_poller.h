#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "book_snapshot.h"
#include "deadline.h"
#include "exports.h"

// What became of one requested book: its snapshot, or why there is none.
struct BookOutcome {
    std::string instrument;
    BookKind kind = BookKind::Order;
    std::optional<BookSnapshot> snapshot;
    std::string failure;
};

// Requests the order and position books of several instruments without ever blocking: every
// pending book is asked again in turn, with a short pause between turns, until each has a
// reference (then it is read and released) or a final answer. One line per change of status.
class BookPoller {
  public:
    BookPoller(const Exports& exports, std::ostream& out);

    std::vector<BookOutcome> Poll(const std::vector<std::string>& instruments, std::int32_t time,
                                  const Deadline& deadline) const;

  private:
    struct KindExports;
    KindExports For(BookKind kind) const;
    // Reads a book through its reference and releases it; throws Failure.
    BookSnapshot Read(BookKind kind, std::int32_t ref) const;
    static void ReadInto(const KindExports& calls, const std::string& name, std::int32_t ref,
                         BookSnapshot& book);

    const Exports& exports_;
    std::ostream& out_;
};

// "started loading (-100)", "no such instrument (-400): <text>", "failed: <text>", ...
std::string DescribeBookStatus(std::int32_t result, const std::string& text);
