# MetaTrader 5: 64-bit Windows, posix thread model (std::thread and friends).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(MORVA_MINGW_TRIPLE x86_64-w64-mingw32)
set(MORVA_WINE_LOADER /usr/lib/wine/wine64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
