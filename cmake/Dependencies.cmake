# Third-party libraries. Native builds use Debian's packages as installed; the Windows builds use
# the same header-only libraries from a staging folder that exposes only them, never the host's
# whole /usr/include (its C library headers would shadow MinGW's).
find_package(Threads REQUIRED)

if(CMAKE_CROSSCOMPILING)
    set(MORVA_STAGED_INCLUDE ${CMAKE_BINARY_DIR}/third_party/include)
    file(MAKE_DIRECTORY ${MORVA_STAGED_INCLUDE})
    foreach(dir spdlog fmt nlohmann)
        if(NOT EXISTS /usr/include/${dir})
            message(FATAL_ERROR "/usr/include/${dir} is missing: run scripts/install-deps")
        endif()
        file(CREATE_LINK /usr/include/${dir} ${MORVA_STAGED_INCLUDE}/${dir} SYMBOLIC)
    endforeach()

    # spdlog and fmt compiled once for the whole build, as Debian's packages do natively.
    add_library(morva_third_party STATIC ${CMAKE_CURRENT_LIST_DIR}/dependencies/spdlog_fmt_compiled.cpp)
    target_include_directories(morva_third_party SYSTEM PUBLIC ${MORVA_STAGED_INCLUDE})
    target_compile_definitions(morva_third_party PUBLIC SPDLOG_COMPILED_LIB SPDLOG_FMT_EXTERNAL)

    if(MORVA_BUILD_TESTS)
        # GoogleTest from Debian's sources, built with the cross compiler.
        set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
        set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
        set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
        # Its build defines the GTest:: targets the tests link.
        add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
    endif()
else()
    find_package(spdlog REQUIRED)
    find_package(fmt REQUIRED)
    find_package(nlohmann_json 3.11 REQUIRED)
    find_package(ICU REQUIRED COMPONENTS uc i18n)
    find_package(CURL REQUIRED)
    # libcurl speaks TLS through OpenSSL, whose exit-time teardown the transport turns off.
    find_package(OpenSSL REQUIRED)
    # The sign-in window: WebKitGTK 4.1 on GTK 3.
    find_package(PkgConfig REQUIRED)
    pkg_check_modules(WEBKITGTK REQUIRED IMPORTED_TARGET webkit2gtk-4.1 gtk+-3.0)
    add_library(morva_third_party INTERFACE)
    target_link_libraries(morva_third_party INTERFACE spdlog::spdlog fmt::fmt
                                                      nlohmann_json::nlohmann_json)
    if(MORVA_BUILD_TESTS)
        find_package(GTest REQUIRED)
    endif()
    if(MORVA_BUILD_BENCHMARKS)
        find_package(benchmark REQUIRED)
    endif()
endif()

# morva_precompile_headers(TARGET HEADERS...): for a test program that includes GoogleTest and the
# JSON library in every file, parsed once instead. GCC loses the system-header mark of what comes
# from a precompiled header and then reports its known false positives inside the standard
# library's inlined string code, which it otherwise leaves unsaid.
function(morva_precompile_headers target)
    target_precompile_headers(${target} PRIVATE ${ARGN})
    if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
        target_compile_options(${target} PRIVATE -Wno-array-bounds -Wno-stringop-overflow)
    endif()
endfunction()
