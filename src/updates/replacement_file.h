#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace morva {

// New content for a file, written to a file of its own beside it and put in the target's place in
// one step once complete. Until Commit the target stays exactly as it was; an object that ends
// uncommitted (a failed write, an exception) removes what it wrote. A process killed midway leaves
// the target whole and at worst "<target>.<16 hex digits>.tmp" beside it.
class ReplacementFile {
  public:
    // Creates the new file exclusively, under a random name, in the target's folder; never
    // creates a folder. Throws MorvaError "Failed to open ofstream: %s [%lu]" (target, system
    // error code).
    explicit ReplacementFile(std::u16string target);
    ~ReplacementFile();
    ReplacementFile(const ReplacementFile&) = delete;
    ReplacementFile& operator=(const ReplacementFile&) = delete;

    // Throws MorvaError "Error occurred while writing to: %s [%lu]" (target, system error code).
    void Write(std::span<const std::uint8_t> bytes);

    // Flushes the new file to disk, then renames it over the target, so that no crash can leave
    // a target that is only partly written. Throws as Write does, the target then unchanged.
    void Commit();

  private:
    struct Native;  // the open file and its name, as the platform takes them

    [[noreturn]] void Fail(unsigned long code) const;

    const std::u16string target_;
    const std::unique_ptr<Native> native_;
};

namespace replacement_file_detail {
// "<target>.<16 hex digits>.tmp": random digits, different on every call.
std::u16string TemporaryName(const std::u16string& target);
}  // namespace replacement_file_detail

}  // namespace morva
