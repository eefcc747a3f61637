# The Windows zip (`make package-windows`): tvflash.exe, the README, the protocol description, the
# Wireshark dissector and the manual page rendered as plain text with Windows line ends, so that
# Notepad shows it as it should.
find_program(TVFLASH_GROFF groff)
set(TVFLASH_MAN_TEXT ${CMAKE_CURRENT_BINARY_DIR}/tvflash.txt)
if(TVFLASH_GROFF)
    add_custom_command(
        OUTPUT ${TVFLASH_MAN_TEXT}
        COMMAND ${CMAKE_COMMAND} -DGROFF=${TVFLASH_GROFF} -DPAGE=${CMAKE_CURRENT_SOURCE_DIR}/docs/tvflash.1
                -DOUTPUT=${TVFLASH_MAN_TEXT} -P ${CMAKE_CURRENT_SOURCE_DIR}/cmake/man_to_text.cmake
        DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/docs/tvflash.1 ${CMAKE_CURRENT_SOURCE_DIR}/cmake/man_to_text.cmake
        COMMENT "Rendering the manual page as text")
    add_custom_target(tvflash_manual_text ALL DEPENDS ${TVFLASH_MAN_TEXT})
    install(FILES ${TVFLASH_MAN_TEXT} DESTINATION .)
endif()
install(FILES README.md docs/protocol.md DESTINATION .)
install(FILES tools/wireshark/tvflash.lua DESTINATION wireshark)
# The operator's manual and the Windows document with their pictures, the licence and the changes.
install(FILES docs/manual.md docs/windows.md LICENSE CHANGELOG.md DESTINATION .)
install(DIRECTORY docs/images DESTINATION .)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME tvflash)
set(CPACK_SYSTEM_NAME win64)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
include(CPack)
