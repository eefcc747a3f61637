# The README, the changelog and every document of docs/ for a package that holds them side by
# side in one folder (the Debian package's documents, the Windows zip), their links made to fit
# by cmake/flatten_doc_links.cmake: copies built into FOLDER, whose paths go into the list OUT.
# MAN_LINK is where a link to a manual page goes, NAME standing for the page's name.
function(tvflash_flat_docs folder man_link license_link out)
    file(GLOB docs CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/docs/*.md)
    set(script ${PROJECT_SOURCE_DIR}/cmake/flatten_doc_links.cmake)
    set(copies "")
    foreach(source ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/CHANGELOG.md ${docs})
        get_filename_component(name ${source} NAME)
        add_custom_command(OUTPUT ${folder}/${name}
                           COMMAND ${CMAKE_COMMAND} -DSOURCE=${source} -DOUTPUT=${folder}/${name}
                                   -DMAN_LINK=${man_link} -DLICENSE_LINK=${license_link} -P ${script}
                           DEPENDS ${source} ${script} VERBATIM)
        list(APPEND copies ${folder}/${name})
    endforeach()
    add_custom_target(tvflash_flat_docs ALL DEPENDS ${copies})
    set(${out} ${copies} PARENT_SCOPE)
endfunction()
