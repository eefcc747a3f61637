# The Windows zip (`make package-windows`): tvflash.exe, tvflash-fleet.exe, tvflash-sim.exe,
# demo.cmd with tvflash-demo.exe, the README with every document and their pictures, the licence
# and the changes, the Wireshark dissector, and the manual pages rendered as plain text with
# Windows line ends, so that Notepad shows them as it should; the documents' links to a manual page
# lead to its text.
find_program(TVFLASH_GROFF groff REQUIRED)
foreach(page tvflash tvflash-sim tvflash-fleet)
    set(text ${CMAKE_CURRENT_BINARY_DIR}/${page}.txt)
    add_custom_command(
        OUTPUT ${text}
        COMMAND ${CMAKE_COMMAND} -DGROFF=${TVFLASH_GROFF} -DPAGE=${CMAKE_CURRENT_SOURCE_DIR}/docs/${page}.1
                -DOUTPUT=${text} -P ${CMAKE_CURRENT_SOURCE_DIR}/cmake/man_to_text.cmake
        DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/docs/${page}.1 ${CMAKE_CURRENT_SOURCE_DIR}/cmake/man_to_text.cmake
        COMMENT "Rendering ${page}(1) as text")
    add_custom_target(${page}_manual_text ALL DEPENDS ${text})
    install(FILES ${text} DESTINATION .)
endforeach()

include(${CMAKE_CURRENT_SOURCE_DIR}/cmake/flat_docs.cmake)
tvflash_flat_docs(${CMAKE_CURRENT_BINARY_DIR}/zip-docs NAME.txt LICENSE documents)
install(FILES ${documents} LICENSE DESTINATION .)
install(DIRECTORY docs/images DESTINATION .)
install(FILES tools/wireshark/tvflash.lua DESTINATION wireshark)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME tvflash)
set(CPACK_SYSTEM_NAME win64)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
include(CPack)
