// The fifteen exports. Each runs its body inside ExecuteDll, which owns the error buffer and turns
// every failure into -1 and a text. Bodies reach the services through the current module and keep
// it until they return, so an InitDLL on another thread cannot pull it away mid-call.
#include <cstdint>
#include <string>

#include "host/book_exports.h"
#include "host/execute_dll.h"
#include "host/library_pin.h"
#include "host/library_state.h"
#include "host/module.h"
#include "host/update_exports.h"
#include "morva_orderbook.h"

namespace {

static_assert(sizeof(morva_char16) == sizeof(char16_t), "UTF-16 text crosses the boundary");
static_assert(morva::kTerminalTextSize == MORVA_ERROR_BUFFER_SIZE &&
                  morva::kTerminalTextSize == MORVA_TEXT_BUFFER_SIZE,
              "the library fills the buffers the header promises");

// The terminal's UTF-16 text (wchar_t on Windows) as the library's char16_t.
const char16_t* In(const morva_char16* text) noexcept {
    return reinterpret_cast<const char16_t*>(text);
}
char16_t* Out(morva_char16* text) noexcept {
    return reinterpret_cast<char16_t*>(text);
}

// Null texts from a careless caller read as empty rather than crash.
std::u16string Text(const morva_char16* text) {
    return text != nullptr ? std::u16string(In(text)) : std::u16string();
}

}  // namespace

extern "C" {

void MORVA_CALL InitDLL(const morva_char16* server, const morva_char16* account,
                        const morva_char16* platform, const morva_char16* language,
                        morva_char16* error) {
    ExecuteDll(
        Out(error),
        [&] {
            const auto module = morva::ConfigureModule(
                {Text(server), Text(account), Text(platform), Text(language)});
            // From here on background tasks run library code: unloading waits for process exit.
            morva::PinLibrary();
            module->InitTimeConverter();
        },
        "InitDLL(%ls, %ls, %ls, %ls)", In(server), In(account), In(platform), In(language));
}

void MORVA_CALL InitCreds(morva_char16* error) {
    ExecuteDll(
        Out(error), [] { morva::GetModule()->InitCreds(); }, "InitCreds");
}

int32_t MORVA_CALL OrderBook(const morva_char16* instrument, int32_t time, morva_char16* error) {
    return ExecuteDll(
        Out(error),
        [&] {
            return morva::RequestBook(*morva::GetModule(), morva::OrderBookKind(), In(instrument),
                                      time, Out(error));
        },
        "OrderBook(%ls, %d)", In(instrument), time);
}

int32_t MORVA_CALL OrderBook_Sz(int32_t ref, morva_char16* error) {
    return ExecuteDll(
        Out(error),
        [&] { return morva::BookSize(*morva::GetModule(), morva::OrderBookKind(), ref); },
        "OrderBook_Sz(%d)", ref);
}

void MORVA_CALL OrderBook_BookData(int32_t ref, double* shortCounts, double* longCounts,
                                   double* prices, int32_t size, morva_char16* error) {
    ExecuteDll(
        Out(error),
        [&] {
            morva::BookData(*morva::GetModule(), morva::OrderBookKind(), ref, shortCounts,
                            longCounts, prices, size);
        },
        "OrderBook_BookData(%d, %d)", ref, size);
}

void MORVA_CALL OrderBook_MetaData(int32_t ref, double* bucketWidth, double* price,
                                   int32_t* unixTime, int32_t* serverTime, int32_t size,
                                   morva_char16* timeText, morva_char16* instrumentText,
                                   morva_char16* error) {
    ExecuteDll(
        Out(error),
        [&] {
            morva::BookMetaData(*morva::GetModule(), morva::OrderBookKind(), ref, bucketWidth,
                                price, unixTime, serverTime, size, Out(timeText),
                                Out(instrumentText));
        },
        "OrderBook_MetaData(%d, %d)", ref, size);
}

void MORVA_CALL OrderBook_Free(int32_t ref, morva_char16* error) {
    ExecuteDll(
        Out(error), [&] { morva::FreeBook(*morva::GetModule(), morva::OrderBookKind(), ref); },
        "OrderBook_Free(%d)", ref);
}

int32_t MORVA_CALL PositionBook(const morva_char16* instrument, int32_t time, morva_char16* error) {
    return ExecuteDll(
        Out(error),
        [&] {
            return morva::RequestBook(*morva::GetModule(), morva::PositionBookKind(),
                                      In(instrument), time, Out(error));
        },
        "PositionBook(%ls, %d)", In(instrument), time);
}

int32_t MORVA_CALL PositionBook_Sz(int32_t ref, morva_char16* error) {
    return ExecuteDll(
        Out(error),
        [&] { return morva::BookSize(*morva::GetModule(), morva::PositionBookKind(), ref); },
        "PositionBook_Sz(%d)", ref);
}

void MORVA_CALL PositionBook_BookData(int32_t ref, double* shortCounts, double* longCounts,
                                      double* prices, int32_t size, morva_char16* error) {
    ExecuteDll(
        Out(error),
        [&] {
            morva::BookData(*morva::GetModule(), morva::PositionBookKind(), ref, shortCounts,
                            longCounts, prices, size);
        },
        "PositionBook_BookData(%d, %d)", ref, size);
}

void MORVA_CALL PositionBook_MetaData(int32_t ref, double* bucketWidth, double* price,
                                      int32_t* unixTime, int32_t* serverTime, int32_t size,
                                      morva_char16* timeText, morva_char16* instrumentText,
                                      morva_char16* error) {
    ExecuteDll(
        Out(error),
        [&] {
            morva::BookMetaData(*morva::GetModule(), morva::PositionBookKind(), ref, bucketWidth,
                                price, unixTime, serverTime, size, Out(timeText),
                                Out(instrumentText));
        },
        "PositionBook_MetaData(%d, %d)", ref, size);
}

void MORVA_CALL PositionBook_Free(int32_t ref, morva_char16* error) {
    ExecuteDll(
        Out(error), [&] { morva::FreeBook(*morva::GetModule(), morva::PositionBookKind(), ref); },
        "PositionBook_Free(%d)", ref);
}

int32_t MORVA_CALL CheckPremium(const morva_char16* instrument, morva_char16* error) {
    return ExecuteDll(
        Out(error),
        [&] {
            const std::shared_ptr<morva::Module> module = morva::GetModule();
            return module->user().CheckPremium(module->GetAccessToken(), Text(instrument));
        },
        "CheckPremium(%ls)", In(instrument));
}

int32_t MORVA_CALL CheckForUpdates(morva_char16* version, bool* force, morva_char16* error) {
    return ExecuteDll(
        Out(error),
        [&] {
            return morva::CheckForUpdates(*morva::GetModule(), Out(version), force, Out(error));
        },
        "CheckForUpdates");
}

int32_t MORVA_CALL UpdateIndicator(const morva_char16* dataFolder,
                                   const morva_char16* indicatorPath, morva_char16* error) {
    return ExecuteDll(
        Out(error),
        [&] {
            return morva::UpdateIndicator(*morva::GetModule(), In(dataFolder), In(indicatorPath),
                                          Out(error));
        },
        "UpdateIndicator(%ls, %ls)", In(dataFolder), In(indicatorPath));
}

}  // extern "C"
