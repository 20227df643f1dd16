# The Firefox build of the extension (MakeFirefoxExtension.cmake) in
# ${CMAKE_BINARY_DIR}/extension-firefox/, and that folder zipped as
# larkspool-firefox.xpi for installing from a file. Target: extension-firefox.
set(firefox_dir ${CMAKE_BINARY_DIR}/extension-firefox)
set(firefox_xpi ${CMAKE_BINARY_DIR}/larkspool-firefox.xpi)
set(firefox_files manifest.json background.js answerer.js)
list(TRANSFORM firefox_files PREPEND ${firefox_dir}/ OUTPUT_VARIABLE firefox_outputs)

add_custom_command(
    OUTPUT ${firefox_outputs}
    COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${PROJECT_SOURCE_DIR} -DOUTPUT_DIR=${firefox_dir}
            -P ${PROJECT_SOURCE_DIR}/cmake/MakeFirefoxExtension.cmake
    # The outputs are rewritten only when they change: keep ninja from
    # asking again.
    COMMAND ${CMAKE_COMMAND} -E touch_nocreate ${firefox_outputs}
    DEPENDS ${PROJECT_SOURCE_DIR}/extension/manifest.json
            ${PROJECT_SOURCE_DIR}/extension/background.js
            ${PROJECT_SOURCE_DIR}/extension/answerer.js
            ${PROJECT_SOURCE_DIR}/src/app/Registration.h
            ${PROJECT_SOURCE_DIR}/cmake/MakeFirefoxExtension.cmake
    COMMENT "Making the Firefox build of the extension"
    VERBATIM)
# An .xpi is a zip with manifest.json at its top.
add_custom_command(
    OUTPUT ${firefox_xpi}
    COMMAND ${CMAKE_COMMAND} -E rm -f ${firefox_xpi}
    COMMAND ${CMAKE_COMMAND} -E tar cf ${firefox_xpi} --format=zip ${firefox_files}
    WORKING_DIRECTORY ${firefox_dir}
    DEPENDS ${firefox_outputs}
    COMMENT "Packing larkspool-firefox.xpi"
    VERBATIM)
add_custom_target(extension-firefox ALL DEPENDS ${firefox_xpi})

include(GNUInstallDirs)
install(FILES ${firefox_outputs} DESTINATION ${CMAKE_INSTALL_DATADIR}/larkspool/extension-firefox)
install(FILES ${firefox_xpi} DESTINATION ${CMAKE_INSTALL_DATADIR}/larkspool)
