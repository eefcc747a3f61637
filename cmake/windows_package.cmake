# The Windows zip (`make package-windows`): tvflash.exe, tvflash-fleet.exe, tvflash-sim.exe,
# demo.cmd with tvflash-demo.exe, the README, the protocol description, the operator's documents,
# the Wireshark dissector and the manual pages rendered as plain text with Windows line ends, so
# that Notepad shows them as it should.
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
# With tvflash-sim.exe (sim/) and the demo (tools/demo/) in the zip, the simulator's manual page
# comes as text too.
if(TVFLASH_GROFF)
    set(TVFLASH_SIM_MAN_TEXT ${CMAKE_CURRENT_BINARY_DIR}/tvflash-sim.txt)
    add_custom_command(
        OUTPUT ${TVFLASH_SIM_MAN_TEXT}
        COMMAND ${CMAKE_COMMAND} -DGROFF=${TVFLASH_GROFF} -DPAGE=${CMAKE_CURRENT_SOURCE_DIR}/docs/tvflash-sim.1
                -DOUTPUT=${TVFLASH_SIM_MAN_TEXT} -P ${CMAKE_CURRENT_SOURCE_DIR}/cmake/man_to_text.cmake
        DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/docs/tvflash-sim.1 ${CMAKE_CURRENT_SOURCE_DIR}/cmake/man_to_text.cmake
        COMMENT "Rendering the simulator's manual page as text")
    add_custom_target(tvflash_sim_manual_text ALL DEPENDS ${TVFLASH_SIM_MAN_TEXT})
    install(FILES ${TVFLASH_SIM_MAN_TEXT} DESTINATION .)
endif()
install(FILES README.md docs/protocol.md DESTINATION .)

# tvflash-fleet's manual page as text too, and its guide.
set(TVFLASH_FLEET_MAN_TEXT ${CMAKE_CURRENT_BINARY_DIR}/tvflash-fleet.txt)
if(TVFLASH_GROFF)
    add_custom_command(
        OUTPUT ${TVFLASH_FLEET_MAN_TEXT}
        COMMAND ${CMAKE_COMMAND} -DGROFF=${TVFLASH_GROFF}
                -DPAGE=${CMAKE_CURRENT_SOURCE_DIR}/docs/tvflash-fleet.1
                -DOUTPUT=${TVFLASH_FLEET_MAN_TEXT} -P ${CMAKE_CURRENT_SOURCE_DIR}/cmake/man_to_text.cmake
        DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/docs/tvflash-fleet.1
                ${CMAKE_CURRENT_SOURCE_DIR}/cmake/man_to_text.cmake
        COMMENT "Rendering tvflash-fleet's manual page as text")
    add_custom_target(tvflash_fleet_manual_text ALL DEPENDS ${TVFLASH_FLEET_MAN_TEXT})
    install(FILES ${TVFLASH_FLEET_MAN_TEXT} DESTINATION .)
endif()
install(FILES docs/fleet.md DESTINATION .)
install(FILES tools/wireshark/tvflash.lua DESTINATION wireshark)
# The operator's manual and the Windows document with their pictures, the licence and the changes.
install(FILES docs/manual.md docs/windows.md LICENSE CHANGELOG.md DESTINATION .)
install(DIRECTORY docs/images DESTINATION .)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME tvflash)
set(CPACK_SYSTEM_NAME win64)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
include(CPack)
