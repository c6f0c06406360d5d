// export-host: loads the library by path and calls its exports by name, as an indicator does.
//
//   export-host LIBRARY [STEP]...
//     --exports            resolve all fifteen exports; fails when one is missing
//     --version            print the version resource (Windows builds)
//     NAME [ARGS]...       call an export, e.g. "InitDLL srv 1 mt5 en", "OrderBook EURUSD 0"
//
// Every call prints one line: the call, its result and the error buffer.
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "exports.h"
#include "library.h"
#include "morva_orderbook.h"

namespace {

constexpr const char* kExportNames[] = {
    "CheckForUpdates",
    "CheckPremium",
    "InitCreds",
    "InitDLL",
    "OrderBook",
    "OrderBook_BookData",
    "OrderBook_Free",
    "OrderBook_MetaData",
    "OrderBook_Sz",
    "PositionBook",
    "PositionBook_BookData",
    "PositionBook_Free",
    "PositionBook_MetaData",
    "PositionBook_Sz",
    "UpdateIndicator",
};

// A caller-owned output buffer of the library's text size.
class TextBuffer {
  public:
    TextBuffer() { buffer_[0] = 0; }
    morva_char16* get() { return buffer_; }
    std::string Utf8() const { return NarrowUtf16(reinterpret_cast<const char16_t*>(buffer_)); }

  private:
    morva_char16 buffer_[MORVA_TEXT_BUFFER_SIZE];
};

int32_t ToInt(const std::string& text) {
    std::size_t used = 0;
    const long value = std::stol(text, &used);
    if (used != text.size()) {
        throw std::invalid_argument("not a number: " + text);
    }
    return static_cast<int32_t>(value);
}

void Report(const std::string& call, const std::string& result, const TextBuffer& error) {
    std::cout << call << result << " error=\"" << error.Utf8() << "\"" << std::endl;
}

struct Step {
    std::size_t argc;
    std::function<void(const Library&, const std::vector<std::string>&)> run;
};

// Book steps share their shape between order and position books.
void AddBookSteps(std::map<std::string, Step>& steps, const std::string& book) {
    steps[book] = {2, [book](const Library& lib, const std::vector<std::string>& a) {
                       TextBuffer error;
                       const int32_t r = Resolve<decltype(OrderBook)>(lib, book.c_str())(
                           WideText(a[0]).get(), ToInt(a[1]), error.get());
                       Report(book + "(" + a[0] + ", " + a[1] + ")", " = " + std::to_string(r),
                              error);
                   }};
    steps[book + "_Sz"] = {1, [book](const Library& lib, const std::vector<std::string>& a) {
                               TextBuffer error;
                               const int32_t r = Resolve<decltype(OrderBook_Sz)>(
                                   lib, (book + "_Sz").c_str())(ToInt(a[0]), error.get());
                               Report(book + "_Sz(" + a[0] + ")", " = " + std::to_string(r), error);
                           }};
    steps[book + "_BookData"] = {
        2, [book](const Library& lib, const std::vector<std::string>& a) {
            TextBuffer error;
            const int32_t size = ToInt(a[1]);
            std::vector<double> shorts(static_cast<std::size_t>(std::max(size, 0)));
            std::vector<double> longs(shorts.size());
            std::vector<double> prices(shorts.size());
            Resolve<decltype(OrderBook_BookData)>(lib, (book + "_BookData").c_str())(
                ToInt(a[0]), shorts.data(), longs.data(), prices.data(), size, error.get());
            std::string rows;
            for (std::size_t i = 0; i < prices.size(); ++i) {
                rows += " [" + std::to_string(prices[i]) + " " + std::to_string(shorts[i]) + " " +
                        std::to_string(longs[i]) + "]";
            }
            Report(book + "_BookData(" + a[0] + ", " + a[1] + ")", rows, error);
        }};
    steps[book + "_MetaData"] = {
        1, [book](const Library& lib, const std::vector<std::string>& a) {
            TextBuffer error;
            TextBuffer timeText;
            TextBuffer instrument;
            double bucketWidth = 0;
            double price = 0;
            int32_t unixTime = 0;
            int32_t serverTime = 0;
            Resolve<decltype(OrderBook_MetaData)>(lib, (book + "_MetaData").c_str())(
                ToInt(a[0]), &bucketWidth, &price, &unixTime, &serverTime, 1, timeText.get(),
                instrument.get(), error.get());
            Report(book + "_MetaData(" + a[0] + ", 1)",
                   " bucketWidth=" + std::to_string(bucketWidth) +
                       " price=" + std::to_string(price) + " unixTime=" + std::to_string(unixTime) +
                       " serverTime=" + std::to_string(serverTime) + " time=\"" + timeText.Utf8() +
                       "\" instrument=\"" + instrument.Utf8() + "\"",
                   error);
        }};
    steps[book + "_Free"] = {1, [book](const Library& lib, const std::vector<std::string>& a) {
                                 TextBuffer error;
                                 Resolve<decltype(OrderBook_Free)>(lib, (book + "_Free").c_str())(
                                     ToInt(a[0]), error.get());
                                 Report(book + "_Free(" + a[0] + ")", "", error);
                             }};
}

std::map<std::string, Step> Steps() {
    std::map<std::string, Step> steps;
    steps["InitDLL"] = {
        4, [](const Library& lib, const std::vector<std::string>& a) {
            TextBuffer error;
            Resolve<decltype(InitDLL)>(lib, "InitDLL")(WideText(a[0]).get(), WideText(a[1]).get(),
                                                       WideText(a[2]).get(), WideText(a[3]).get(),
                                                       error.get());
            Report("InitDLL(" + a[0] + ", " + a[1] + ", " + a[2] + ", " + a[3] + ")", "", error);
        }};
    steps["InitCreds"] = {0, [](const Library& lib, const std::vector<std::string>&) {
                              TextBuffer error;
                              Resolve<decltype(InitCreds)>(lib, "InitCreds")(error.get());
                              Report("InitCreds()", "", error);
                          }};
    AddBookSteps(steps, "OrderBook");
    AddBookSteps(steps, "PositionBook");
    steps["CheckPremium"] = {1, [](const Library& lib, const std::vector<std::string>& a) {
                                 TextBuffer error;
                                 const int32_t r = Resolve<decltype(CheckPremium)>(
                                     lib, "CheckPremium")(WideText(a[0]).get(), error.get());
                                 Report("CheckPremium(" + a[0] + ")", " = " + std::to_string(r),
                                        error);
                             }};
    steps["CheckForUpdates"] = {0, [](const Library& lib, const std::vector<std::string>&) {
                                    TextBuffer error;
                                    TextBuffer version;
                                    bool force = false;
                                    const int32_t r = Resolve<decltype(CheckForUpdates)>(
                                        lib, "CheckForUpdates")(version.get(), &force, error.get());
                                    Report("CheckForUpdates()",
                                           " = " + std::to_string(r) + " version=\"" +
                                               version.Utf8() + "\" force=" + (force ? "1" : "0"),
                                           error);
                                }};
    steps["UpdateIndicator"] = {
        2, [](const Library& lib, const std::vector<std::string>& a) {
            TextBuffer error;
            const int32_t r = Resolve<decltype(UpdateIndicator)>(lib, "UpdateIndicator")(
                WideText(a[0]).get(), WideText(a[1]).get(), error.get());
            Report("UpdateIndicator(" + a[0] + ", " + a[1] + ")", " = " + std::to_string(r), error);
        }};
    return steps;
}

int ResolveAll(const Library& library) {
    int missing = 0;
    for (const char* name : kExportNames) {
        const bool found = library.Find(name) != nullptr;
        std::cout << name << (found ? " found" : " MISSING") << std::endl;
        missing += found ? 0 : 1;
    }
    std::cout << (std::size(kExportNames) - static_cast<std::size_t>(missing)) << " of "
              << std::size(kExportNames) << " exports resolved" << std::endl;
    return missing == 0 ? 0 : 1;
}

}  // namespace

int RunHost(const std::vector<std::string>& args) {
    if (args.empty()) {
        std::cerr << "usage: export-host LIBRARY [--exports | --version | NAME ARGS...]..."
                  << std::endl;
        return 2;
    }
    try {
        const std::string& path = args[0];
        const Library library(path);
        const std::map<std::string, Step> steps = Steps();
        int status = 0;
        for (std::size_t i = 1; i < args.size();) {
            const std::string& name = args[i++];
            if (name == "--exports") {
                status = std::max(status, ResolveAll(library));
                continue;
            }
            if (name == "--version") {
                std::cout << "FileVersion " << Library::FileVersion(path) << std::endl
                          << "ProductVersion " << Library::ProductVersion(path) << std::endl;
                continue;
            }
            const auto step = steps.find(name);
            if (step == steps.end()) {
                std::cerr << "unknown export: " << name << std::endl;
                return 2;
            }
            if (args.size() - i < step->second.argc) {
                std::cerr << name << " needs " << step->second.argc << " arguments" << std::endl;
                return 2;
            }
            const std::vector<std::string> callArgs(
                args.begin() + static_cast<std::ptrdiff_t>(i),
                args.begin() + static_cast<std::ptrdiff_t>(i + step->second.argc));
            i += step->second.argc;
            step->second.run(library, callArgs);
        }
        return status;
    } catch (const std::exception& e) {
        std::cerr << "export-host: " << e.what() << std::endl;
        return 1;
    }
}
