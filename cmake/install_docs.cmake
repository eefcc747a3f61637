# The documents every install and the Debian package carry, in the forms Debian's policy asks for:
# the manual pages compressed, the copyright file in the machine-readable format made from
# LICENSE, a changelog entry for this version made from CHANGELOG.md, and the README with every
# document, their links leading to the installed manual pages and the copyright file. Expects
# TVFLASH_MAN_PAGES and TVFLASH_MAINTAINER.

set(TVFLASH_DOC_BUILD_DIR ${CMAKE_CURRENT_BINARY_DIR}/installed-docs)
find_program(TVFLASH_GZIP gzip REQUIRED)

# Compresses source into NAME.gz at build time, with no name or time stamp in the header so that
# the same text always gives the same file; the output's path goes into the list out.
function(tvflash_gzip source name out)
    set(copy ${TVFLASH_DOC_BUILD_DIR}/gz/${name})
    add_custom_command(OUTPUT ${copy}.gz
                       COMMAND ${CMAKE_COMMAND} -E make_directory ${TVFLASH_DOC_BUILD_DIR}/gz
                       COMMAND ${CMAKE_COMMAND} -E copy ${source} ${copy}
                       COMMAND ${TVFLASH_GZIP} -9nf ${copy}
                       DEPENDS ${source} VERBATIM)
    list(APPEND ${out} ${copy}.gz)
    set(${out} ${${out}} PARENT_SCOPE)
endfunction()

# A changelog date (YYYY-MM-DD) in the form of Debian's changelog, weekday included.
function(tvflash_debian_date iso out)
    string(REGEX MATCH "^([0-9]+)-0*([0-9]+)-0*([0-9]+)$" ignored ${iso})
    set(year ${CMAKE_MATCH_1})
    set(month ${CMAKE_MATCH_2})
    set(day ${CMAKE_MATCH_3})
    set(days Sun Mon Tue Wed Thu Fri Sat)
    set(months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
    # Sakamoto's method, 0 being Sunday.
    set(offsets 0 3 2 5 0 3 5 1 4 6 2 4)
    math(EXPR index "${month} - 1")
    list(GET offsets ${index} offset)
    list(GET months ${index} month_name)
    set(y ${year})
    if(month LESS 3)
        math(EXPR y "${y} - 1")
    endif()
    math(EXPR weekday "(${y} + ${y} / 4 - ${y} / 100 + ${y} / 400 + ${offset} + ${day}) % 7")
    list(GET days ${weekday} day_name)
    set(${out} "${day_name}, ${day} ${month_name} ${year} 00:00:00 +0000" PARENT_SCOPE)
endfunction()

# The copyright file: the notice and the licence of LICENSE, the licence text as the field's
# continuation lines (an empty line written as " .").
file(READ ${PROJECT_SOURCE_DIR}/LICENSE license)
string(REGEX MATCH "Copyright \\(c\\) ([^\n]*)" ignored "${license}")
set(notice "${CMAKE_MATCH_1}")
string(FIND "${license}" "Permission is hereby granted" start)
string(SUBSTRING "${license}" ${start} -1 license_text)
string(STRIP "${license_text}" license_text)
string(REPLACE "\n\n" "\n.\n" license_text "${license_text}")
string(REPLACE "\n" "\n " license_text "${license_text}")
file(WRITE ${TVFLASH_DOC_BUILD_DIR}/copyright
     "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"
     "Upstream-Name: ${PROJECT_NAME}\n"
     "Upstream-Contact: ${TVFLASH_MAINTAINER}\n\n"
     "Files: *\n"
     "Copyright: ${notice}\n"
     "License: Expat\n"
     " ${license_text}\n")

# The changelog entry of this version, dated as CHANGELOG.md dates its section.
file(READ ${PROJECT_SOURCE_DIR}/CHANGELOG.md changes)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
             ${PROJECT_SOURCE_DIR}/LICENSE ${PROJECT_SOURCE_DIR}/CHANGELOG.md)
string(REPLACE "." "\\." version_pattern "${PROJECT_VERSION}")
string(REGEX MATCH "\n## ${version_pattern} - ([0-9-]+)" release "${changes}")
if(NOT release)
    message(FATAL_ERROR "CHANGELOG.md has no section for version ${PROJECT_VERSION}")
endif()
tvflash_debian_date(${CMAKE_MATCH_1} release_date)
file(WRITE ${TVFLASH_DOC_BUILD_DIR}/debian-changelog
     "${PROJECT_NAME} (${PROJECT_VERSION}) unstable; urgency=medium\n\n"
     "  * Release ${PROJECT_VERSION}: see CHANGELOG.md beside this file.\n\n"
     " -- ${TVFLASH_MAINTAINER}  ${release_date}\n")

set(compressed "")
foreach(page ${TVFLASH_MAN_PAGES})
    get_filename_component(name ${page} NAME)
    tvflash_gzip(${page} ${name} compressed)
endforeach()
set(man_pages ${compressed})
set(compressed "")
tvflash_gzip(${TVFLASH_DOC_BUILD_DIR}/debian-changelog changelog compressed)
add_custom_target(tvflash_installed_docs ALL DEPENDS ${man_pages} ${compressed})

install(FILES ${man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
include(${PROJECT_SOURCE_DIR}/cmake/flat_docs.cmake)
file(RELATIVE_PATH man_folder /${CMAKE_INSTALL_DOCDIR} /${CMAKE_INSTALL_MANDIR}/man1)
tvflash_flat_docs(${TVFLASH_DOC_BUILD_DIR}/docs ${man_folder}/NAME.1.gz copyright documents)
install(FILES ${TVFLASH_DOC_BUILD_DIR}/copyright ${compressed} ${documents}
        DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(DIRECTORY docs/images DESTINATION ${CMAKE_INSTALL_DOCDIR})
