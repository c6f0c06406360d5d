#pragma once

#include <cstddef>
#include <string>

#include "book_snapshot.h"

// A book of `size` buckets from `firstPrice` in steps of `width`, with the price in bucket
// `priceBucket` (a quarter of the way into it). Bucket i holds i % 7 + 1 percent long and
// i % 5 + 1 percent short, so neighbours differ.
BookSnapshot MakeBook(std::size_t size, std::size_t priceBucket, double firstPrice = 1.0,
                      double width = 0.0005);

// Lines of a text, without their line ends.
std::vector<std::string> Lines(const std::string& text);

std::size_t CountOf(const std::string& text, const std::string& part);
