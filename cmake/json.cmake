# nlohmann/json for tvflash-fleet's records and events, from Debian's nlohmann-json3-dev: a
# header-only library. The Windows build takes the same headers, copied into its build tree so
# that the cross compiler does not search the host's whole include folder.
add_library(tvflash_json INTERFACE)
if(CMAKE_CROSSCOMPILING)
    set(TVFLASH_JSON_HEADERS /usr/include/nlohmann)
    if(NOT EXISTS ${TVFLASH_JSON_HEADERS}/json.hpp)
        message(FATAL_ERROR "nlohmann/json.hpp not found (make windows-deps installs nlohmann-json3-dev)")
    endif()
    file(COPY ${TVFLASH_JSON_HEADERS} DESTINATION ${CMAKE_BINARY_DIR}/host-headers)
    target_include_directories(tvflash_json SYSTEM INTERFACE ${CMAKE_BINARY_DIR}/host-headers)
else()
    find_package(nlohmann_json 3 REQUIRED)
    target_link_libraries(tvflash_json INTERFACE nlohmann_json::nlohmann_json)
endif()
