/*
 * MORVA order-book library: the fifteen exports an MQL4/MQL5 indicator imports.
 *
 * Text crosses as null-terminated UTF-16. Every export takes, as its last parameter, a caller-owned
 * error buffer of MORVA_ERROR_BUFFER_SIZE UTF-16 units: on return it is empty when nothing is to be
 * reported, otherwise it holds a message. Integer exports return -1 on failure.
 *
 * The 32-bit Windows build (MetaTrader 4) uses __stdcall; every build exports undecorated names.
 */
#ifndef MORVA_ORDERBOOK_H
#define MORVA_ORDERBOOK_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#else
#include <stdbool.h>
#endif

#if defined(_WIN32)
typedef wchar_t morva_char16;
#if defined(_M_IX86) || defined(__i386__)
#define MORVA_CALL __stdcall
#else
#define MORVA_CALL
#endif
#else
#ifdef __cplusplus
typedef char16_t morva_char16;
#else
#include <uchar.h>
typedef char16_t morva_char16;
#endif
#define MORVA_CALL
#endif

/* Size of the error buffer and of every text output buffer, terminating zero included. */
#define MORVA_ERROR_BUFFER_SIZE 180
#define MORVA_TEXT_BUFFER_SIZE 180

/* Configures the library for a terminal: trading server name, account, "mt4"/"mt5", language.
 * Non-blocking: repeat with the same texts until the error buffer comes back empty. */
void MORVA_CALL InitDLL(const morva_char16* server, const morva_char16* account,
                        const morva_char16* platform, const morva_char16* language,
                        morva_char16* error);

/* Obtains an access token, signing the user in when needed. Repeat until the buffer is empty. */
void MORVA_CALL InitCreds(morva_char16* error);

/* Requests a book for an instrument at a trading-server time (0: the latest). Returns a reference
 * of 1 or more, or a status: -100 started loading, -200 still loading, -300 waiting for
 * authorization, -400 no such instrument; -1 on failure. */
int32_t MORVA_CALL OrderBook(const morva_char16* instrument, int32_t time, morva_char16* error);
int32_t MORVA_CALL OrderBook_Sz(int32_t ref, morva_char16* error);
void MORVA_CALL OrderBook_BookData(int32_t ref, double* shortCounts, double* longCounts,
                                   double* prices, int32_t size, morva_char16* error);
void MORVA_CALL OrderBook_MetaData(int32_t ref, double* bucketWidth, double* price,
                                   int32_t* unixTime, int32_t* serverTime, int32_t size,
                                   morva_char16* timeText, morva_char16* instrumentText,
                                   morva_char16* error);
void MORVA_CALL OrderBook_Free(int32_t ref, morva_char16* error);

int32_t MORVA_CALL PositionBook(const morva_char16* instrument, int32_t time, morva_char16* error);
int32_t MORVA_CALL PositionBook_Sz(int32_t ref, morva_char16* error);
void MORVA_CALL PositionBook_BookData(int32_t ref, double* shortCounts, double* longCounts,
                                      double* prices, int32_t size, morva_char16* error);
void MORVA_CALL PositionBook_MetaData(int32_t ref, double* bucketWidth, double* price,
                                      int32_t* unixTime, int32_t* serverTime, int32_t size,
                                      morva_char16* timeText, morva_char16* instrumentText,
                                      morva_char16* error);
void MORVA_CALL PositionBook_Free(int32_t ref, morva_char16* error);

/* Whether the signed-in user may see premium data for an instrument. */
int32_t MORVA_CALL CheckPremium(const morva_char16* instrument, morva_char16* error);

/* Whether a newer version is published: writes the version text (MORVA_TEXT_BUFFER_SIZE units)
 * and whether the update is mandatory. */
int32_t MORVA_CALL CheckForUpdates(morva_char16* version, bool* force, morva_char16* error);

/* Installs the published version: the library beside the running one, the indicator in place. */
int32_t MORVA_CALL UpdateIndicator(const morva_char16* dataFolder,
                                   const morva_char16* indicatorPath, morva_char16* error);

#ifdef __cplusplus
}
#endif

#endif /* MORVA_ORDERBOOK_H */
