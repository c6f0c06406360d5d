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
        try {
            const morva::StrataBook book = morva::ParseBook(response, kind);
            // A parsed book is whole: every bucket read, none invented.
            if (book.buckets.size() > size) {
                __builtin_trap();
            }
        } catch (const nlohmann::json::exception&) {
        } catch (const std::invalid_argument&) {  // stoi, stod
        } catch (const std::out_of_range&) {      // stoi, stod, a missing member
        }
    }
    return 0;
}
