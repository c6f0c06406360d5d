#pragma once

#include <clocale>
#include <string>

namespace morva {

// Switches the process to a locale whose decimal point is a comma, as a host (or GTK) may, and
// back when it goes. Empty when no such locale is installed.
class DecimalCommaLocale {
  public:
    DecimalCommaLocale() {
        const char* current = std::setlocale(LC_ALL, nullptr);
        previous_ = current != nullptr ? current : "C";
        for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "German_Germany.1252", "German"}) {
            if (std::setlocale(LC_ALL, name) != nullptr &&
                *std::localeconv()->decimal_point == ',') {
                active_ = true;
                return;
            }
        }
        std::setlocale(LC_ALL, previous_.c_str());
    }
    ~DecimalCommaLocale() { std::setlocale(LC_ALL, previous_.c_str()); }
    DecimalCommaLocale(const DecimalCommaLocale&) = delete;
    DecimalCommaLocale& operator=(const DecimalCommaLocale&) = delete;

    explicit operator bool() const { return active_; }

  private:
    std::string previous_;
    bool active_ = false;
};

}  // namespace morva
