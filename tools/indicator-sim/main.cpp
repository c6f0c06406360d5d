// indicator-sim: loads the order-book library by path, drives it through its exports as an
// indicator does, and draws the books it gets (text, and optionally SVG). See README.md.
#include <chrono>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "book_poller.h"
#include "deadline.h"
#include "exports.h"
#include "failure.h"
#include "library.h"
#include "options.h"
#include "session.h"
#include "svg_renderer.h"
#include "terminal.h"
#include "text_renderer.h"

namespace {

constexpr int kOk = 0;
constexpr int kFailed = 1;
constexpr int kUsage = 2;

bool UseColour(ColorMode mode) {
    return mode == ColorMode::Always || (mode == ColorMode::Auto && StdoutIsTerminal());
}

void WriteFile(const std::string& utf8Path, const std::string& content) {
    const std::filesystem::path path(
        std::u8string(reinterpret_cast<const char8_t*>(utf8Path.data()), utf8Path.size()));
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << content;
    file.close();
    if (!file) {
        throw Failure("cannot write " + utf8Path);
    }
}

void Complain(const std::string& text) {
    std::cout.flush();
    std::cerr << "indicator-sim: " << text << std::endl;
}

// One round: every book requested, read and drawn. Returns whether all of them were drawn.
bool DrawBooks(const Exports& exports, const Options& options, const RenderOptions& render,
               const Deadline& deadline, Session* firstRound) {
    const std::vector<BookOutcome> outcomes =
        BookPoller(exports, std::cout).Poll(options.instruments, options.time, deadline);
    bool ok = true;
    if (firstRound != nullptr) {
        for (const std::string& instrument : options.instruments) {
            try {
                firstRound->CheckPremium(instrument, deadline);
            } catch (const Failure& failure) {
                Complain(failure.what());
                ok = false;
            }
        }
        try {
            firstRound->CheckForUpdates(deadline);
        } catch (const Failure& failure) {
            Complain(failure.what());
            ok = false;
        }
    }
    std::vector<BookSnapshot> drawn;
    const TextRenderer text(render);
    for (const BookOutcome& outcome : outcomes) {
        if (!outcome.snapshot) {
            Complain(outcome.instrument + " " + KindName(outcome.kind) +
                     " not drawn: " + outcome.failure);
            ok = false;
            continue;
        }
        std::cout << '\n' << text.Render(*outcome.snapshot);
        drawn.push_back(*outcome.snapshot);
    }
    std::cout.flush();
    if (!options.svgFile.empty()) {
        RenderOptions svgOptions = render;
        svgOptions.color = false;
        WriteFile(options.svgFile, SvgRenderer(svgOptions).Render(drawn));
        std::cout << "\nwrote " << options.svgFile << " (" << drawn.size() << " books)"
                  << std::endl;
    }
    return ok;
}

int Run(const Options& options) {
    RenderOptions render;
    render.rows = options.rows;
    render.color = UseColour(options.color);
    if (render.color) {
        EnableColourCodes();
    }
    const std::chrono::seconds limit(options.timeoutSeconds);

    const Library library(options.library);
    const Exports exports(library);
    Session session(exports, std::cout);
    const Deadline setUp(limit);
    session.InitDll(options, setUp);
    session.InitCreds(setUp);

    bool ok = true;
    for (int round = 1;; ++round) {
        // The first round shares the set-up's deadline; later ones get their own.
        const Deadline deadline = round == 1 ? setUp : Deadline(limit);
        if (options.watchSeconds > 0) {
            std::cout << "\n== round " << round << " ==" << std::endl;
        }
        ok = DrawBooks(exports, options, render, deadline, round == 1 ? &session : nullptr) && ok;
        if (options.watchSeconds == 0 || (options.count > 0 && round >= options.count)) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::seconds(options.watchSeconds));
    }
    return ok ? kOk : kFailed;
}

}  // namespace

int RunSimulator(const std::vector<std::string>& args) {
    Options options;
    try {
        options = ParseOptions(args);
    } catch (const UsageError& error) {
        Complain(std::string(error.what()) + " (see --help)");
        return kUsage;
    }
    if (options.help) {
        std::cout << UsageText();
        return kOk;
    }
    try {
        return Run(options);
    } catch (const std::exception& error) {
        // The library's own texts, as it wrote them, and the loader's reasons.
        Complain(error.what());
        return kFailed;
    }
}
