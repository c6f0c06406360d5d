#include <windows.h>

#include <cstddef>
#include <span>

#include "base/file_handle_win.h"
#include "base/shared_append_file.h"

namespace morva {

namespace {

HANDLE AsHandle(std::intptr_t file) noexcept {
    return reinterpret_cast<HANDLE>(file);
}

}  // namespace

void shared_append_file_detail::Close(std::intptr_t file) noexcept {
    CloseHandle(AsHandle(file));
}

SharedAppendFile SharedAppendFile::Open(const std::filesystem::path& path) noexcept {
    // FILE_SHARE_DELETE lets another opener rename the file while it is open here: without it
    // every roll by anyone fails while this process logs.
    const HANDLE file = CreateFileW(path.c_str(), FILE_APPEND_DATA,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    return SharedAppendFile(reinterpret_cast<std::intptr_t>(file));
}

bool SharedAppendFile::Append(std::string_view data) noexcept {
    return WriteAll(AsHandle(file_.get()), std::as_bytes(std::span(data.data(), data.size())));
}

}  // namespace morva
