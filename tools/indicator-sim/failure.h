#pragma once

#include <stdexcept>
#include <string>

// Something the run cannot get past: a text the library reported, a timeout.
// main prints its text as is and ends with status 1.
class Failure : public std::runtime_error {
  public:
    explicit Failure(const std::string& text) : std::runtime_error(text) {}
};
