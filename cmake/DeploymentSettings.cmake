# Deployment settings: the broker's host names, OAuth client identifiers and the claims origin.
# The defaults live in the reserved .example domain, so a default build can never send a token
# to a stranger. Checked here, at configure time, so a typo fails the build rather than a trader.
include(${CMAKE_CURRENT_LIST_DIR}/DeploymentChecks.cmake)

set(MORVA_PRODUCTION_BOOK_API_HOST "api.morva.example" CACHE STRING "Production book API host")
set(MORVA_STAGING_BOOK_API_HOST "api-staging.morva.example" CACHE STRING "Staging book API host")
set(MORVA_PRODUCTION_AUTH_HOST "login.morva.example" CACHE STRING "Production authorization host")
set(MORVA_STAGING_AUTH_HOST "login-staging.morva.example" CACHE STRING "Staging authorization host")
set(MORVA_CONFIG_HOST "www.morva.example" CACHE STRING "Configuration (metadata) host, both environments")
set(MORVA_PRODUCTION_CLIENT_ID "k7Qm2Xw9Lp4Rt8Vz1Bn6Hc3Jd5Fg0SaW" CACHE STRING "Production OAuth client id")
set(MORVA_STAGING_CLIENT_ID "s3Tg9Hb2Nk7Wq4Lx8Mz1Pc6Rv5Dy0EjA" CACHE STRING "Staging OAuth client id")
set(MORVA_CLAIMS_ORIGIN "https://www.morva.example" CACHE STRING "Origin under which the access token's claims are named")

foreach(setting MORVA_PRODUCTION_BOOK_API_HOST MORVA_STAGING_BOOK_API_HOST MORVA_PRODUCTION_AUTH_HOST
                MORVA_STAGING_AUTH_HOST MORVA_CONFIG_HOST)
    morva_is_host_name("${${setting}}" ok)
    if(NOT ok)
        message(FATAL_ERROR "${setting}='${${setting}}' is not a plain host name "
                            "(letters, digits, hyphens and dots; no scheme, port or path)")
    endif()
endforeach()
foreach(setting MORVA_PRODUCTION_CLIENT_ID MORVA_STAGING_CLIENT_ID)
    morva_is_client_id("${${setting}}" ok)
    if(NOT ok)
        message(FATAL_ERROR "${setting} must be exactly 32 ASCII letters and digits")
    endif()
endforeach()
morva_is_origin("${MORVA_CLAIMS_ORIGIN}" ok)
if(NOT ok)
    message(FATAL_ERROR "MORVA_CLAIMS_ORIGIN='${MORVA_CLAIMS_ORIGIN}' must be https://HOST[:PORT]")
endif()
foreach(pair "MORVA_PRODUCTION_BOOK_API_HOST;MORVA_STAGING_BOOK_API_HOST"
             "MORVA_PRODUCTION_AUTH_HOST;MORVA_STAGING_AUTH_HOST"
             "MORVA_PRODUCTION_CLIENT_ID;MORVA_STAGING_CLIENT_ID")
    list(GET pair 0 first)
    list(GET pair 1 second)
    if("${${first}}" STREQUAL "${${second}}")
        message(FATAL_ERROR "${first} and ${second} must differ: the environments never share them")
    endif()
endforeach()

set(MORVA_GENERATED_DIR ${CMAKE_BINARY_DIR}/generated)
configure_file(${PROJECT_SOURCE_DIR}/src/config/deployment_settings.h.in
               ${MORVA_GENERATED_DIR}/config/deployment_settings.h @ONLY)

# Every host the library may contact, for the sandbox that maps them to the fake broker.
set(hosts ${MORVA_PRODUCTION_BOOK_API_HOST} ${MORVA_STAGING_BOOK_API_HOST}
          ${MORVA_PRODUCTION_AUTH_HOST} ${MORVA_STAGING_AUTH_HOST} ${MORVA_CONFIG_HOST})
list(REMOVE_DUPLICATES hosts)
list(JOIN hosts "\n" hosts_text)
file(WRITE ${CMAKE_BINARY_DIR}/deployment-hosts.txt "${hosts_text}\n")
