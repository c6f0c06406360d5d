#include "options.h"

#include <cerrno>
#include <cstdlib>
#include <limits>
#include <optional>

namespace {

long long ParseInteger(const std::string& name, const std::string& text, long long low,
                       long long high) {
    errno = 0;
    char* end = nullptr;
    const long long value = std::strtoll(text.c_str(), &end, 10);
    if (text.empty() || end != text.c_str() + text.size() || errno == ERANGE || value < low ||
        value > high) {
        throw UsageError(name + " needs a whole number from " + std::to_string(low) + " to " +
                         std::to_string(high) + ", not \"" + text + "\"");
    }
    return value;
}

int ParseCount(const std::string& name, const std::string& text, int low) {
    return static_cast<int>(ParseInteger(name, text, low, std::numeric_limits<int>::max()));
}

std::vector<std::string> SplitInstruments(const std::string& text) {
    std::vector<std::string> instruments;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = text.find(',', start);
        const std::string item = text.substr(start, comma - start);
        if (item.empty()) {
            throw UsageError("--instruments needs names separated by commas, not \"" + text + "\"");
        }
        instruments.push_back(item);
        if (comma == std::string::npos) {
            return instruments;
        }
        start = comma + 1;
    }
}

}  // namespace

Options ParseOptions(const std::vector<std::string>& args) {
    Options options;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::optional<std::string> inlineValue;
        if (name.rfind("--", 0) == 0) {
            const std::size_t equals = name.find('=');
            if (equals != std::string::npos) {
                inlineValue = name.substr(equals + 1);
                name.erase(equals);
            }
        } else {
            if (!options.library.empty()) {
                throw UsageError("unexpected argument \"" + name + "\"");
            }
            options.library = name;
            continue;
        }
        if (name == "--help") {
            options.help = true;
            continue;
        }
        const auto value = [&]() -> std::string {
            if (inlineValue) {
                return *inlineValue;
            }
            if (i + 1 >= args.size()) {
                throw UsageError(name + " needs a value");
            }
            return args[++i];
        };
        if (name == "--library") {
            options.library = value();
        } else if (name == "--server") {
            options.server = value();
        } else if (name == "--account") {
            options.account = value();
        } else if (name == "--platform") {
            options.platform = value();
            if (options.platform != "mt4" && options.platform != "mt5") {
                throw UsageError("--platform is mt4 or mt5, not \"" + options.platform + "\"");
            }
        } else if (name == "--language") {
            options.language = value();
        } else if (name == "--instruments") {
            options.instruments = SplitInstruments(value());
        } else if (name == "--time") {
            options.time = static_cast<std::int32_t>(
                ParseInteger(name, value(), 0, std::numeric_limits<std::int32_t>::max()));
        } else if (name == "--watch") {
            options.watchSeconds = ParseCount(name, value(), 1);
        } else if (name == "--count") {
            options.count = ParseCount(name, value(), 1);
        } else if (name == "--svg") {
            options.svgFile = value();
        } else if (name == "--rows") {
            options.rows = ParseCount(name, value(), 1);
        } else if (name == "--color" || name == "--colour") {
            const std::string mode = value();
            if (mode == "auto") {
                options.color = ColorMode::Auto;
            } else if (mode == "always") {
                options.color = ColorMode::Always;
            } else if (mode == "never") {
                options.color = ColorMode::Never;
            } else {
                throw UsageError("--color is auto, always or never, not \"" + mode + "\"");
            }
        } else if (name == "--timeout") {
            options.timeoutSeconds = ParseCount(name, value(), 1);
        } else {
            throw UsageError("unknown option " + name);
        }
    }
    if (!options.help && options.library.empty()) {
        throw UsageError("no library given");
    }
    if (options.count > 0 && options.watchSeconds == 0) {
        throw UsageError("--count goes with --watch");
    }
    return options;
}

std::string UsageText() {
    return R"(indicator-sim: drives the order-book library through its exports as an indicator does,
and draws the books it gets.

usage: indicator-sim [--library] PATH [OPTIONS]

  --library PATH         the library to load (libmorva_orderbook.so, MORVA_Orderbook64.dll)
  --server NAME          trading server name for InitDLL (default MORVA-Live-3)
  --account ID           trading account (default 1000042)
  --platform mt4|mt5     platform code (default mt5)
  --language CODE        terminal language (default EN)
  --instruments A,B,...  instruments whose order and position books to draw (default EUR_USD)
  --time SECONDS         trading-server time of the books, seconds since 1970; 0 = latest (default)
  --watch SECONDS        read and draw the books again every SECONDS until interrupted
  --count N              with --watch: stop after N rounds
  --svg FILE             also write the books as one SVG image (rewritten every round)
  --rows N               buckets shown around the price (default 21)
  --color auto|always|never
                         ANSI colours: auto = when standard output is a terminal (default)
  --timeout SECONDS      longest wait for the set-up and for each round of books (default 120)
  --help                 this text

Exit status: 0 when every book was drawn, 1 on any failure the library reported or a timeout,
2 on a usage error.
)";
}
