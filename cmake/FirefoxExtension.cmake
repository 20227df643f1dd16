# The Firefox build of the extension: the same background.js and answerer.js
# with a manifest derived from extension/manifest.json (FirefoxManifest.cmake),
# in ${CMAKE_BINARY_DIR}/extension-firefox/, and that folder zipped as
# larkspool-firefox.xpi for installing from a file. Target: extension-firefox.

# The gecko id is the one the program's host manifest allows, read from the
# program's source so that the two cannot drift apart.
file(STRINGS ${PROJECT_SOURCE_DIR}/src/app/Registration.h LARKSPOOL_FIREFOX_ID_LINE
    REGEX "FirefoxExtensionId = \"[^\"]+\"")
string(REGEX MATCH "\"([^\"]+)\"" ignored "${LARKSPOOL_FIREFOX_ID_LINE}")
set(LARKSPOOL_FIREFOX_EXTENSION_ID "${CMAKE_MATCH_1}")
if(NOT LARKSPOOL_FIREFOX_EXTENSION_ID MATCHES "^[A-Za-z0-9._-]+@[A-Za-z0-9._-]+$")
    message(FATAL_ERROR "src/app/Registration.h must define FirefoxExtensionId as an id@domain")
endif()
# Firefox ESR 140 is the oldest with everything the extension uses (MV3 event
# pages as modules, scripting with func and args, data collection settings).
set(LARKSPOOL_FIREFOX_MIN_VERSION "140.0")

set(firefox_dir ${CMAKE_BINARY_DIR}/extension-firefox)
set(firefox_xpi ${CMAKE_BINARY_DIR}/larkspool-firefox.xpi)
set(firefox_scripts background.js answerer.js)
set(firefox_sources "")
set(firefox_copies "")
foreach(script IN LISTS firefox_scripts)
    list(APPEND firefox_sources ${PROJECT_SOURCE_DIR}/extension/${script})
    list(APPEND firefox_copies ${firefox_dir}/${script})
endforeach()

add_custom_command(
    OUTPUT ${firefox_dir}/manifest.json ${firefox_copies}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${firefox_dir}
    COMMAND ${CMAKE_COMMAND} -DINPUT=${PROJECT_SOURCE_DIR}/extension/manifest.json
            -DOUTPUT=${firefox_dir}/manifest.json
            -DGECKO_ID=${LARKSPOOL_FIREFOX_EXTENSION_ID}
            -DMIN_VERSION=${LARKSPOOL_FIREFOX_MIN_VERSION}
            -P ${PROJECT_SOURCE_DIR}/cmake/FirefoxManifest.cmake
    COMMAND ${CMAKE_COMMAND} -E copy ${firefox_sources} ${firefox_dir}
    DEPENDS ${PROJECT_SOURCE_DIR}/extension/manifest.json ${firefox_sources}
            ${PROJECT_SOURCE_DIR}/cmake/FirefoxManifest.cmake
            ${PROJECT_SOURCE_DIR}/src/app/Registration.h
    COMMENT "Making the Firefox build of the extension"
    VERBATIM)
# An .xpi is a zip with manifest.json at its top.
add_custom_command(
    OUTPUT ${firefox_xpi}
    COMMAND ${CMAKE_COMMAND} -E rm -f ${firefox_xpi}
    COMMAND ${CMAKE_COMMAND} -E tar cf ${firefox_xpi} --format=zip manifest.json ${firefox_scripts}
    WORKING_DIRECTORY ${firefox_dir}
    DEPENDS ${firefox_dir}/manifest.json ${firefox_copies}
    COMMENT "Packing larkspool-firefox.xpi"
    VERBATIM)
add_custom_target(extension-firefox ALL DEPENDS ${firefox_xpi})

include(GNUInstallDirs)
install(FILES ${firefox_dir}/manifest.json ${firefox_copies}
    DESTINATION ${CMAKE_INSTALL_DATADIR}/larkspool/extension-firefox)
install(FILES ${firefox_xpi} DESTINATION ${CMAKE_INSTALL_DATADIR}/larkspool)
