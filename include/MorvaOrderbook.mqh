//+------------------------------------------------------------------+
//| MorvaOrderbook.mqh: the fifteen functions of the MORVA order-book |
//| library for MQL5 (MORVA_Orderbook64.dll) and MQL4                 |
//| (MORVA_Orderbook32.dll) indicators.                               |
//|                                                                   |
//| Put the DLL in the terminal's MQL5\Libraries (MQL4\Libraries)     |
//| folder and allow DLL imports for the indicator.                   |
//|                                                                   |
//| Every function takes, as its last parameter, a text buffer of     |
//| MORVA_TEXT_SIZE characters that comes back empty when there is    |
//| nothing to report. Reserve every buffer before each call:         |
//|    string error; StringInit(error, MORVA_TEXT_SIZE, 0);           |
//| Nothing blocks: InitDLL, InitCreds, the book requests,            |
//| CheckPremium, CheckForUpdates and UpdateIndicator start their     |
//| work in the background and are called again (from OnTimer or the |
//| next OnCalculate) until they answer. Call InitDLL only until its  |
//| buffer comes back empty (again after OnInit, when the account     |
//| changes), then the other functions: a repeated InitDLL fetches    |
//| the server list again and answers "Waiting for server             |
//| configuration" meanwhile. A failed sign-in ends in "(next         |
//| sign-in attempt in N s)": the next call after that opens the      |
//| window again (5 minutes after it was closed, 30 s after other     |
//| failures).                                                        |
//| See the README section "Using the library from an indicator".     |
//+------------------------------------------------------------------+
#define MORVA_TEXT_SIZE 180

// Results of OrderBook and PositionBook other than a reference (1 or more).
#define MORVA_BOOK_STARTED_LOADING      -100
#define MORVA_BOOK_STILL_LOADING        -200
#define MORVA_BOOK_WAITING_FOR_SIGN_IN  -300
#define MORVA_BOOK_DOES_NOT_EXIST       -400
#define MORVA_FAILED                    -1

// Results of CheckForUpdates.
#define MORVA_UPDATE_CHECKING           1
#define MORVA_UPDATE_CHECK_FAILED       2
#define MORVA_UPDATE_NONE               3
#define MORVA_UPDATE_AVAILABLE          4

// Results of UpdateIndicator.
#define MORVA_INSTALL_RUNNING           1
#define MORVA_INSTALL_FAILED            2
#define MORVA_INSTALL_DONE              3

#ifdef __MQL5__
#import "MORVA_Orderbook64.dll"
#else
#import "MORVA_Orderbook32.dll"
#endif
// server: AccountInfoString(ACCOUNT_SERVER); account: the login as text; platform: "mt5" or "mt4";
// language: the indicator's language, e.g. "EN".
void InitDLL(string server, string account, string platform, string language, string &error);
void InitCreds(string &error);

// time: trading-server time (a datetime as int), 0 for the latest book.
int  OrderBook(string instrument, int time, string &error);
int  OrderBook_Sz(int ref, string &error);
// Arrays sized by OrderBook_Sz; size is that count.
void OrderBook_BookData(int ref, double &shortCounts[], double &longCounts[], double &prices[],
                        int size, string &error);
// One-element arrays, size 1; timeText and instrumentText reserved like error.
void OrderBook_MetaData(int ref, double &bucketWidth[], double &price[], int &unixTime[],
                        int &serverTime[], int size, string &timeText, string &instrumentText,
                        string &error);
void OrderBook_Free(int ref, string &error);

int  PositionBook(string instrument, int time, string &error);
int  PositionBook_Sz(int ref, string &error);
void PositionBook_BookData(int ref, double &shortCounts[], double &longCounts[], double &prices[],
                           int size, string &error);
void PositionBook_MetaData(int ref, double &bucketWidth[], double &price[], int &unixTime[],
                           int &serverTime[], int size, string &timeText, string &instrumentText,
                           string &error);
void PositionBook_Free(int ref, string &error);

// Positive: premium granted; 0: refused; -1: still checking or failed (see error).
int  CheckPremium(string instrument, string &error);
// version reserved like error; force set when the installed version is below the minimum.
int  CheckForUpdates(string &version, bool &force, string &error);
// dataFolder: TerminalInfoString(TERMINAL_DATA_PATH); indicatorPath: the indicator file to replace.
int  UpdateIndicator(string dataFolder, string indicatorPath, string &error);
#import
