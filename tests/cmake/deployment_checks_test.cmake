# cmake -P tests/cmake/deployment_checks_test.cmake: the configure-time checks of the deployment
# settings accept what a deployment may use and refuse what would send requests astray.
include(${CMAKE_CURRENT_LIST_DIR}/../../cmake/DeploymentChecks.cmake)

set(failures 0)
# expect(PREDICATE EXPECTED VALUES...): PREDICATE gives EXPECTED for each of VALUES.
function(expect predicate expected)
    foreach(value IN LISTS ARGN)
        cmake_language(CALL ${predicate} "${value}" result)
        if(NOT result STREQUAL "${expected}")
            message(SEND_ERROR "${predicate}(\"${value}\") gave ${result}, expected ${expected}")
            math(EXPR failures "${failures} + 1")
            set(failures ${failures} PARENT_SCOPE)
        endif()
    endforeach()
endfunction()

expect(morva_is_host_name TRUE api.morva.example login-staging.morva.example localhost)
expect(morva_is_host_name FALSE "" https://api.morva.example api.morva.example:443
       api.morva.example/v3 -api.morva.example api..morva.example "api morva.example")

expect(morva_is_client_id TRUE k7Qm2Xw9Lp4Rt8Vz1Bn6Hc3Jd5Fg0SaW)
expect(morva_is_client_id FALSE k7Qm2Xw9Lp4Rt8Vz1Bn6Hc3Jd5Fg0Sa k7Qm2Xw9Lp4Rt8Vz1Bn6Hc3Jd5Fg0SaWX
       k7Qm2Xw9Lp4Rt8Vz1Bn6Hc3Jd5Fg0Sa-)

expect(morva_is_origin TRUE https://www.morva.example https://www.morva.example:8443)
expect(morva_is_origin FALSE http://www.morva.example https://www.morva.example/
       https://www.morva.example:99999)

if(failures GREATER 0)
    message(FATAL_ERROR "${failures} deployment check(s) failed")
endif()
message(STATUS "deployment checks: all passed")
