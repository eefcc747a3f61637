# cpp-httplib, the HTTP server of tvflash-fleet's station page. On Debian it comes from
# libcpp-httplib-dev, which Debian ships split: a header of declarations and a shared library.
# The Windows build compiles the library's header-only original instead: Debian's source package
# of the same version, fetched from Debian's archive when the build is configured (each file's
# hash checked), with Debian's own patches applied. Nothing of the library is kept in this
# repository.
add_library(tvflash_httplib INTERFACE)
if(WIN32)
    set(TVFLASH_DEBIAN_ARCHIVE "http://deb.debian.org/debian" CACHE STRING
        "The Debian archive the Windows build fetches cpp-httplib's source package from")
    set(TVFLASH_HTTPLIB_SOURCES "" CACHE PATH
        "A folder holding cpp-httplib's source package files, for a build without the archive")
    set(pool ${TVFLASH_DEBIAN_ARCHIVE}/pool/main/c/cpp-httplib)
    set(dir ${CMAKE_BINARY_DIR}/cpp-httplib)
    # The version Debian 12 ships (libcpp-httplib-dev), and the hashes its .dsc lists.
    set(orig cpp-httplib_0.11.4+ds.orig.tar.xz)
    set(orig_sha256 8b1a5df569003b6a4f24c68489bbda5c64aec94697bdc9ebba5d79408b2ae7eb)
    set(debian cpp-httplib_0.11.4+ds-1+deb12u1.debian.tar.xz)
    set(debian_sha256 a0adf8a38610806f6d94ba69839438635e5e6580775e28ff31d6a081e34f1484)
    if(NOT EXISTS ${dir}/include/httplib.h)
        foreach(file IN ITEMS orig debian)
            if(TVFLASH_HTTPLIB_SOURCES)
                file(COPY ${TVFLASH_HTTPLIB_SOURCES}/${${file}} DESTINATION ${dir})
                file(SHA256 ${dir}/${${file}} sha256)
                set(status 0)
                if(NOT "${sha256}" STREQUAL "${${file}_sha256}")
                    set(status "1;SHA-256 ${sha256}, not ${${file}_sha256}")
                endif()
            else()
                file(DOWNLOAD ${pool}/${${file}} ${dir}/${${file}} STATUS status
                     EXPECTED_HASH SHA256=${${file}_sha256})
            endif()
            list(GET status 0 code)
            if(NOT code EQUAL 0)
                message(FATAL_ERROR "cannot take ${${file}}: ${status}")
            endif()
        endforeach()
        file(REMOVE_RECURSE ${dir}/source)
        file(ARCHIVE_EXTRACT INPUT ${dir}/${orig} DESTINATION ${dir}/source)
        file(GLOB tree LIST_DIRECTORIES true ${dir}/source/*)
        file(ARCHIVE_EXTRACT INPUT ${dir}/${debian} DESTINATION ${tree})
        file(STRINGS ${tree}/debian/patches/series patches REGEX "^[^#]")
        foreach(patch IN LISTS patches)
            execute_process(COMMAND patch -p1 -s -i debian/patches/${patch}
                            WORKING_DIRECTORY ${tree} RESULT_VARIABLE failed)
            if(failed)
                message(FATAL_ERROR "cpp-httplib: Debian's patch ${patch} does not apply")
            endif()
        endforeach()
        file(COPY ${tree}/httplib.h DESTINATION ${dir}/include)
    endif()
    target_include_directories(tvflash_httplib SYSTEM INTERFACE ${dir}/include)
    target_link_libraries(tvflash_httplib INTERFACE ws2_32)
else()
    find_package(PkgConfig REQUIRED)
    pkg_check_modules(TVFLASH_CPP_HTTPLIB REQUIRED IMPORTED_TARGET cpp-httplib)
    target_link_libraries(tvflash_httplib INTERFACE PkgConfig::TVFLASH_CPP_HTTPLIB)
endif()
