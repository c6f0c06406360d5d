#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace morva {

// "Strata": a book's price buckets, stacked layers of long and short percentages; the names of the
// book types and of the book API's client start with it.
struct BookBucket {
    double price = 0;
    double longCountPercent = 0;
    double shortCountPercent = 0;
};

// One order-book or position-book snapshot, handed on exactly as the book API sent it.
struct StrataBook {
    std::string instrument;  // UTF-8, as the document spells it
    std::string time;        // UTF-8, the snapshot time text, never parsed
    std::int64_t unixTime = 0;
    double price = 0;
    double bucketWidth = 0;
    std::vector<BookBucket> buckets;
};

}  // namespace morva
