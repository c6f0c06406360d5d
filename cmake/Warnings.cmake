# Warnings for the project's own targets (not for third-party code built alongside).
add_library(morva_warnings INTERFACE)
target_compile_options(morva_warnings INTERFACE -Wall -Wextra -Wpedantic -Wshadow -Wconversion
                                                -Wno-sign-conversion)
if(MORVA_WERROR)
    target_compile_options(morva_warnings INTERFACE -Werror)
endif()
