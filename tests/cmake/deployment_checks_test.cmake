# cmake -P tests/cmake/deployment_checks_test.cmake: the configure-time checks of the deployment
# settings accept what a deployment may use and refuse what would send requests astray.
include(${CMAKE_CURRENT_LIST_DIR}/../../cmake/DeploymentChecks.cmake)

set(failures 0)
macro(expect predicate value expected)
    cmake_language(CALL ${predicate} "${value}" result)
    if(NOT result STREQUAL "${expected}")
        message(SEND_ERROR "${predicate}(\"${value}\") gave ${result}, expected ${expected}")
        math(EXPR failures "${failures} + 1")
    endif()
endmacro()

expect(morva_is_host_name "api.morva.example" TRUE)
expect(morva_is_host_name "login-staging.morva.example" TRUE)
expect(morva_is_host_name "localhost" TRUE)
expect(morva_is_host_name "" FALSE)
expect(morva_is_host_name "https://api.morva.example" FALSE)
expect(morva_is_host_name "api.morva.example:443" FALSE)
expect(morva_is_host_name "api.morva.example/v3" FALSE)
expect(morva_is_host_name "-api.morva.example" FALSE)
expect(morva_is_host_name "api..morva.example" FALSE)
expect(morva_is_host_name "api morva.example" FALSE)

expect(morva_is_client_id "k7Qm2Xw9Lp4Rt8Vz1Bn6Hc3Jd5Fg0SaW" TRUE)
expect(morva_is_client_id "k7Qm2Xw9Lp4Rt8Vz1Bn6Hc3Jd5Fg0Sa" FALSE)
expect(morva_is_client_id "k7Qm2Xw9Lp4Rt8Vz1Bn6Hc3Jd5Fg0SaWX" FALSE)
expect(morva_is_client_id "k7Qm2Xw9Lp4Rt8Vz1Bn6Hc3Jd5Fg0Sa-" FALSE)

expect(morva_is_origin "https://www.morva.example" TRUE)
expect(morva_is_origin "https://www.morva.example:8443" TRUE)
expect(morva_is_origin "http://www.morva.example" FALSE)
expect(morva_is_origin "https://www.morva.example/" FALSE)
expect(morva_is_origin "https://www.morva.example:99999" FALSE)

if(failures GREATER 0)
    message(FATAL_ERROR "${failures} deployment check(s) failed")
endif()
message(STATUS "deployment checks: all passed")
