# Sanitizers for every target of the build, set once here rather than through CMAKE_CXX_FLAGS so
# that the library, the tests, the tools and the fuzz targets are all instrumented alike:
#   MORVA_SANITIZE   a list such as "address;undefined" or "thread"
#   MORVA_FUZZ       libFuzzer's coverage for all code and the fuzz targets in fuzz/ (clang only)
set(MORVA_SANITIZE "" CACHE STRING "Sanitizers for every target, e.g. address;undefined or thread")
option(MORVA_FUZZ "Build the libFuzzer targets in fuzz/ (clang only)" OFF)

if(MORVA_SANITIZE)
    if(CMAKE_CROSSCOMPILING)
        message(FATAL_ERROR "MORVA_SANITIZE is for native builds only")
    endif()
    list(JOIN MORVA_SANITIZE "," morva_sanitizers)
    set(morva_sanitize_flags -fsanitize=${morva_sanitizers} -fno-omit-frame-pointer)
    if(NOT "thread" IN_LIST MORVA_SANITIZE)
        # A report that lets the program go on is easily lost in a passing test's output.
        list(APPEND morva_sanitize_flags -fno-sanitize-recover=all)
    endif()
    add_compile_options(${morva_sanitize_flags})
    add_link_options(-fsanitize=${morva_sanitizers})
    if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
        # GCC's flow analysis sees through the instrumentation poorly and warns of uninitialised
        # members inside libstdc++ (std::function within <regex>); uninstrumented builds keep it.
        target_compile_options(morva_warnings INTERFACE -Wno-maybe-uninitialized)
    endif()
endif()

if(MORVA_FUZZ)
    if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
        message(FATAL_ERROR "MORVA_FUZZ needs clang (libFuzzer)")
    endif()
    # Coverage for every object; only the fuzz executables link libFuzzer's main.
    add_compile_options(-fsanitize=fuzzer-no-link)
endif()
