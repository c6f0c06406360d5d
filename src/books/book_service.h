#pragma once

#include <cstdint>
#include <string>

namespace morva {

// Books held under small integer references that the indicator obtains, reads and releases.
class BookService {
  public:
    // A reference of 1 or more; the non-blocking service also answers the BookRefStatus codes.
    virtual std::int32_t GetBookRef(const std::u16string& instrument, std::int64_t time) = 0;
    // Releases a reference; an unknown one is not an error.
    virtual void FreeBookRef(std::int32_t ref) = 0;
    virtual std::uint64_t GetBookSize(std::int32_t ref) = 0;
    virtual void GetBookData(std::int32_t ref, double* shortCounts, double* longCounts,
                             double* prices, std::int32_t size) = 0;
    virtual void GetBookMetaData(std::int32_t ref, double* bucketWidth, double* price,
                                 std::int32_t* unixTime, std::int32_t size, char16_t* timeText,
                                 char16_t* instrumentText, std::size_t capacity) = 0;
    virtual ~BookService() = default;
};

// What the non-blocking service answers besides references.
enum class BookRefStatus : std::int32_t {
    StartedLoading = -100,
    StillLoading = -200,
    WaitingForAuthorization = -300,
    DoesNotExist = -400,
};

}  // namespace morva
