#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

enum class ColorMode { Auto, Always, Never };

// What the simulator is asked to do, from its command line.
struct Options {
    std::string library;
    std::string server = "MORVA-Live-3";
    std::string account = "1000042";
    std::string platform = "mt5";
    std::string language = "EN";
    std::vector<std::string> instruments{"EUR_USD"};
    std::int32_t time = 0;  // trading-server time; 0 for the latest books
    int watchSeconds = 0;   // 0: one round
    int count = 0;          // rounds when watching; 0: until interrupted
    std::string svgFile;
    int rows = 21;
    ColorMode color = ColorMode::Auto;
    int timeoutSeconds = 120;
    bool help = false;
};

// A command line the simulator cannot run: exit status 2.
class UsageError : public std::runtime_error {
  public:
    explicit UsageError(const std::string& text) : std::runtime_error(text) {}
};

// Throws UsageError. Accepts "--name value" and "--name=value"; the library may also be given as
// the one positional argument.
Options ParseOptions(const std::vector<std::string>& args);

std::string UsageText();
