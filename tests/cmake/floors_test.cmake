# cmake -DCXX=... -DVIEWS=... -P tests/cmake/floors_test.cmake: each floor's sources see their own
# floor and the floors it links, and an #include of a floor above fails to compile. VIEWS holds,
# per floor, the include directories its target compiles with (written by src/CMakeLists.txt).
cmake_policy(SET CMP0057 NEW)

# One header of each floor, from the bottom up; the folder names the floor.
set(headers util/clock.h base/morva_error.h http/http_client.h time/time_converter.h
            config/server_config.h auth/access_token.h books/strata_book.h user/i_user_service.h
            updates/version_number.h host/module.h)

set(failures 0)
set(probe ${VIEWS}/probe.cpp)

# preprocess(FLOOR HEADER OUT_OK OUT_TEXT): includes HEADER with FLOOR's include directories.
function(preprocess floor header ok text)
    file(STRINGS ${VIEWS}/${floor}.includes dirs)
    # The system's own folders stay the compiler's default ones.
    list(FILTER dirs EXCLUDE REGEX "^/usr/")
    list(TRANSFORM dirs PREPEND -I)
    file(WRITE ${probe} "#include \"${header}\"\n")
    execute_process(COMMAND ${CXX} -std=c++20 -E ${dirs} ${probe} -o /dev/null
                    RESULT_VARIABLE status ERROR_VARIABLE errors)
    string(COMPARE EQUAL "${status}" 0 result)
    set(${ok} ${result} PARENT_SCOPE)
    set(${text} "${errors}" PARENT_SCOPE)
endfunction()

set(below "")
foreach(own IN LISTS headers)
    string(REGEX REPLACE "/.*" "" floor ${own})
    # Its own headers compile, so a refusal below is about the floor, not a broken probe.
    preprocess(${floor} ${own} ok errors)
    if(NOT ok)
        message(SEND_ERROR "${floor} cannot include its own ${own}:\n${errors}")
        math(EXPR failures "${failures} + 1")
    endif()
    foreach(other IN LISTS headers)
        if(other STREQUAL own OR other IN_LIST below)
            continue()
        endif()
        preprocess(${floor} ${other} ok errors)
        string(FIND "${errors}" "${other}: No such file" missing)
        if(ok OR missing EQUAL -1)
            message(SEND_ERROR "${floor} can include ${other} from the floor above")
            math(EXPR failures "${failures} + 1")
        endif()
    endforeach()
    list(APPEND below ${own})
endforeach()
file(REMOVE ${probe})

if(failures GREATER 0)
    message(FATAL_ERROR "${failures} floor checks failed")
endif()
