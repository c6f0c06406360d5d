# cmake -DCXX=... -DVIEWS=... -P tests/cmake/floors_test.cmake: each floor's sources see their own
# floor and the floors it links, and an #include of a floor above fails to compile. VIEWS holds,
# per floor, the include directories its target compiles with (written by src/CMakeLists.txt).
cmake_policy(SET CMP0057 NEW)

set(floors util base http time config auth books user updates host)
set(header_util util/clock.h)
set(header_base base/morva_error.h)
set(header_http http/http_client.h)
set(header_time time/time_converter.h)
set(header_config config/server_config.h)
set(header_auth auth/access_token.h)
set(header_books books/strata_book.h)
set(header_user user/i_user_service.h)
set(header_updates updates/version_number.h)
set(header_host host/module.h)

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
    if(status EQUAL 0)
        set(${ok} TRUE PARENT_SCOPE)
    else()
        set(${ok} FALSE PARENT_SCOPE)
    endif()
    set(${text} "${errors}" PARENT_SCOPE)
endfunction()

set(below "")
foreach(floor IN LISTS floors)
    # Its own headers compile, so a refusal below is about the floor, not a broken probe.
    preprocess(${floor} ${header_${floor}} ok errors)
    if(NOT ok)
        message(SEND_ERROR "${floor} cannot include its own ${header_${floor}}:\n${errors}")
        math(EXPR failures "${failures} + 1")
    endif()
    foreach(other IN LISTS floors)
        if(other STREQUAL floor OR other IN_LIST below)
            continue()
        endif()
        preprocess(${floor} ${header_${other}} ok errors)
        string(FIND "${errors}" "${header_${other}}: No such file" missing)
        if(ok OR missing EQUAL -1)
            message(SEND_ERROR "${floor} can include ${header_${other}} from the floor above")
            math(EXPR failures "${failures} + 1")
        endif()
    endforeach()
    list(APPEND below ${floor})
endforeach()
file(REMOVE ${probe})

if(failures GREATER 0)
    message(FATAL_ERROR "${failures} floor checks failed")
endif()
