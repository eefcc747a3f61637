# SQLite for tvflash-fleet's record database, as the target tvflash_sqlite.
#
# Linux and the like: Debian's libsqlite3-dev (`make deps` installs it).
#
# The Windows build links SQLite in statically, compiled from its single-file source. That source
# is not kept in this repository: the build fetches the npm registry's tarball of better-sqlite3,
# which carries it in deps/sqlite3/, checks the tarball's SHA-256, and unpacks the two files it
# needs into the build tree. TVFLASH_SQLITE_TARBALL names a copy of that tarball already on the
# disk, for a machine without the registry.
add_library(tvflash_sqlite INTERFACE)
if(NOT CMAKE_CROSSCOMPILING)
    find_package(SQLite3 REQUIRED)
    target_link_libraries(tvflash_sqlite INTERFACE SQLite::SQLite3)
    return()
endif()

set(TVFLASH_SQLITE_PACKAGE better-sqlite3-12.9.0)
set(TVFLASH_SQLITE_URL
    https://registry.npmjs.org/better-sqlite3/-/${TVFLASH_SQLITE_PACKAGE}.tgz)
set(TVFLASH_SQLITE_SHA256 ad0e29650140c49d0335b1d356596aa8166f12b758f418a98446130e3278f250)
set(TVFLASH_SQLITE_TARBALL "" CACHE FILEPATH
    "The ${TVFLASH_SQLITE_PACKAGE}.tgz tarball of the npm registry (empty: fetched)")

set(TVFLASH_SQLITE_DIR ${CMAKE_BINARY_DIR}/sqlite)
set(TVFLASH_SQLITE_SOURCE ${TVFLASH_SQLITE_DIR}/package/deps/sqlite3/sqlite3.c)
if(NOT EXISTS ${TVFLASH_SQLITE_SOURCE})
    set(tarball ${TVFLASH_SQLITE_TARBALL})
    if(NOT tarball)
        set(tarball ${TVFLASH_SQLITE_DIR}/${TVFLASH_SQLITE_PACKAGE}.tgz)
        message(STATUS "Fetching SQLite's source: ${TVFLASH_SQLITE_URL}")
        file(DOWNLOAD ${TVFLASH_SQLITE_URL} ${tarball} STATUS status TLS_VERIFY ON)
        list(GET status 0 code)
        if(NOT code EQUAL 0)
            list(GET status 1 reason)
            message(FATAL_ERROR "cannot fetch ${TVFLASH_SQLITE_URL}: ${reason} (or give "
                                "TVFLASH_SQLITE_TARBALL)")
        endif()
    endif()
    file(SHA256 ${tarball} digest)
    if(NOT digest STREQUAL TVFLASH_SQLITE_SHA256)
        message(FATAL_ERROR "${tarball} is not ${TVFLASH_SQLITE_PACKAGE}'s tarball "
                            "(SHA-256 ${digest}, expected ${TVFLASH_SQLITE_SHA256})")
    endif()
    file(ARCHIVE_EXTRACT INPUT ${tarball} DESTINATION ${TVFLASH_SQLITE_DIR}
         PATTERNS package/deps/sqlite3/sqlite3.c package/deps/sqlite3/sqlite3.h)
endif()

enable_language(C)
add_library(tvflash_sqlite_static STATIC ${TVFLASH_SQLITE_SOURCE})
target_include_directories(tvflash_sqlite_static SYSTEM PUBLIC
                           ${TVFLASH_SQLITE_DIR}/package/deps/sqlite3)
# The fleet loads no extension and keeps one connection per thread. SQLite's own code is not held
# to this project's warnings.
target_compile_definitions(tvflash_sqlite_static PRIVATE
    SQLITE_THREADSAFE=1 SQLITE_OMIT_LOAD_EXTENSION SQLITE_DQS=0 SQLITE_DEFAULT_MEMSTATUS=0)
target_compile_options(tvflash_sqlite_static PRIVATE -w)
target_link_libraries(tvflash_sqlite INTERFACE tvflash_sqlite_static)
