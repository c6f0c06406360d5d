#include "books/book_json.h"

#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

#include "util/number_text.h"

namespace morva {
namespace {

using Json = nlohmann::json;

// Called only for a value of the wrong type: the library's own conversion then raises its
// type error, so the text is exactly the library's ("type must be object, but is array").
template <typename T>
[[noreturn]] void ThrowTypeError(const Json& value) {
    static_cast<void>(value.get<T>());
    throw std::logic_error("JSON conversion unexpectedly succeeded");
}

// Members are read in place; copying the document into member maps would double the parse cost.
const Json::object_t& AsObject(const Json& value) {
    if (const auto* object = value.get_ptr<const Json::object_t*>()) {
        return *object;
    }
    ThrowTypeError<Json::object_t>(value);
}

// A standard out-of-range error, as a map lookup of a missing key would raise.
Json& Member(Json::object_t& object, std::string_view name) {
    const auto it = object.find(name);
    if (it == object.end()) {
        throw std::out_of_range("key '" + std::string(name) + "' not found");
    }
    return it->second;
}

const Json& Member(const Json::object_t& object, std::string_view name) {
    const auto it = object.find(name);
    if (it == object.end()) {
        throw std::out_of_range("key '" + std::string(name) + "' not found");
    }
    return it->second;
}

const std::string& Text(const Json& value) {
    if (const auto* text = value.get_ptr<const std::string*>()) {
        return *text;
    }
    ThrowTypeError<std::string>(value);
}

// The document is ours: its texts can be moved out rather than copied.
std::string TakeText(Json& value) {
    if (auto* text = value.get_ptr<std::string*>()) {
        return std::move(*text);
    }
    ThrowTypeError<std::string>(value);
}

double Number(const Json& value) {
    return ParseDouble(Text(value));
}

}  // namespace

StrataBook ParseBook(const HttpResponse& response, std::string_view kind) {
    Json document = Json::parse(response.body);
    auto& bookValue = document.at(kind);
    if (!bookValue.is_object()) {
        ThrowTypeError<Json::object_t>(bookValue);
    }
    auto& book = *bookValue.get_ptr<Json::object_t*>();

    StrataBook result;
    result.instrument = TakeText(Member(book, "instrument"));
    result.time = TakeText(Member(book, "time"));
    result.unixTime = std::stoi(Text(Member(book, "unixTime")), nullptr, 10);
    result.price = Number(Member(book, "price"));
    result.bucketWidth = Number(Member(book, "bucketWidth"));

    const Json& bucketsValue = Member(book, "buckets");
    const auto* buckets = bucketsValue.get_ptr<const Json::array_t*>();
    if (buckets == nullptr) {
        ThrowTypeError<Json::array_t>(bucketsValue);
    }
    result.buckets.reserve(buckets->size());
    for (const Json& element : *buckets) {
        const auto& bucket = AsObject(element);
        BookBucket entry;
        entry.price = Number(Member(bucket, "price"));
        entry.longCountPercent = Number(Member(bucket, "longCountPercent"));
        entry.shortCountPercent = Number(Member(bucket, "shortCountPercent"));
        result.buckets.push_back(entry);
    }
    return result;
}

}  // namespace morva
