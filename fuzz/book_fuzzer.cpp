// The book API's response body, as ParseBook reads it for either kind of book.
#include <cstddef>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>

#include "books/book_json.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    morva::HttpResponse response;
    response.status = 200;
    response.body = std::string(morva::fuzz::AsText(data, size));
    for (const char* kind : {"orderBook", "positionBook"}) {
        // stoi and stod refuse with the last two, a missing member with the last.
        morva::fuzz::Tolerating<nlohmann::json::exception, std::invalid_argument,
                                std::out_of_range>([&] {
            // A parsed book is whole: every bucket read, none invented.
            if (morva::ParseBook(response, kind).buckets.size() > size) {
                __builtin_trap();
            }
        });
    }
    return 0;
}
