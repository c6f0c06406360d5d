# Release builds: the same commit gives the same bytes, wherever it is checked out or built.
option(MORVA_REPRODUCIBLE "Leave build paths and link times out of the binaries" OFF)
if(MORVA_REPRODUCIBLE)
    # The later map wins in GCC, so a build folder inside the sources keeps its own short name.
    add_compile_options(-ffile-prefix-map=${CMAKE_SOURCE_DIR}=.
                        -ffile-prefix-map=${CMAKE_BINARY_DIR}=build)
    if(WIN32)
        add_link_options(-Wl,--no-insert-timestamp)
    endif()
endif()
