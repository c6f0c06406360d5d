#pragma once

#include <cstddef>
#include <span>

#include "base/unique_any.h"

namespace morva {

namespace file_descriptor_detail {
int Close(int fd) noexcept;
}  // namespace file_descriptor_detail

// An open file descriptor. Close() returns what close(2) said: for a file just written, the last
// chance to hear of a failed write-back.
using UniqueFd = UniqueAny<int, file_descriptor_detail::Close, -1>;

// Writes all of `data`, however many writes the kernel takes for it; interrupted writes are
// retried. False when a write fails, with errno telling why, or when the kernel accepts nothing.
bool WriteAll(int fd, std::span<const std::byte> data) noexcept;

}  // namespace morva
