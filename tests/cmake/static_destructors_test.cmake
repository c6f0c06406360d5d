# cmake -DNM=... -DARCHIVES="a|b|..." -P tests/cmake/static_destructors_test.cmake: no object of the
# library's floors registers a destructor for a static object (a reference to __cxa_atexit, or to
# atexit in MinGW's objects, _atexit in 32-bit ones).
# Downloads and sign-ins run on threads of the library's own that may still read such objects
# while the process's static destructors run, so they are NoDestructor.
string(REPLACE "|" ";" archives "${ARCHIVES}")
execute_process(COMMAND ${NM} -A ${archives} RESULT_VARIABLE status OUTPUT_VARIABLE symbols
                ERROR_VARIABLE errors)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "${NM} failed: ${errors}")
endif()
string(REGEX MATCHALL "[^\n]* U (__cxa_atexit|_?atexit)\n" registrations "${symbols}")
if(registrations)
    string(REPLACE "\n;" "\n" registrations "${registrations}")
    message(FATAL_ERROR "Static objects with destructors (use NoDestructor):\n${registrations}")
endif()
message(STATUS "No static destructors")
