#pragma once

#include <windows.h>

#include <cstddef>
#include <span>

#include "base/unique_any.h"

namespace morva {

namespace file_handle_detail {
// Tells whether CloseHandle succeeded: a written file can still fail at its close.
bool Close(HANDLE file) noexcept;
}  // namespace file_handle_detail

// An open file, as CreateFileW returns it (INVALID_HANDLE_VALUE for none).
using UniqueFile = UniqueAny<HANDLE, file_handle_detail::Close, -1>;

// Writes all of `data`, however many writes it takes. False when a write fails, with the last
// error telling why, or when the system accepts nothing.
bool WriteAll(HANDLE file, std::span<const std::byte> data) noexcept;

}  // namespace morva
