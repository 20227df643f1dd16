# Makes the Firefox build of the extension in OUTPUT_DIR from SOURCE_DIR's
# extension/: the same background.js and answerer.js, and a manifest derived
# from extension/manifest.json, so that whatever the Chromium manifest gains
# (a permission, a new version) reaches Firefox without a second copy to
# keep. What Firefox needs differently: no "key" (Chromium's way to fix the
# id), background scripts instead of the service worker (Firefox runs an
# extension's background as an event page), and the gecko id the program's
# host manifest allows. The build and scripts/lint-extension both run it.
#   cmake -DSOURCE_DIR=REPOSITORY -DOUTPUT_DIR=FOLDER -P MakeFirefoxExtension.cmake
foreach(var SOURCE_DIR OUTPUT_DIR)
    if(NOT DEFINED ${var} OR "${${var}}" STREQUAL "")
        message(FATAL_ERROR "MakeFirefoxExtension.cmake: ${var} is not set")
    endif()
endforeach()
set(scripts background.js answerer.js)

# The id is the one the program allows, read from its source so that the
# two cannot drift apart.
file(STRINGS "${SOURCE_DIR}/src/app/Registration.h" id_line REGEX "FirefoxExtensionId = \"[^\"]+\"")
string(REGEX MATCH "\"([^\"]+)\"" ignored "${id_line}")
set(gecko_id "${CMAKE_MATCH_1}")
if(NOT gecko_id MATCHES "^[A-Za-z0-9._-]+@[A-Za-z0-9._-]+$")
    message(FATAL_ERROR "src/app/Registration.h must define FirefoxExtensionId as an id@domain")
endif()
# The first Firefox with everything used here (MV3 event pages as modules,
# scripting with func and args, the data collection setting on desktop and
# Android alike); Debian's ESR is newer.
set(min_version "142.0")

set(input "${SOURCE_DIR}/extension/manifest.json")
file(READ "${input}" manifest)
string(JSON worker ERROR_VARIABLE missing GET "${manifest}" background service_worker)
if(missing)
    message(FATAL_ERROR "${input}: no background.service_worker to turn into a script")
endif()
list(FIND scripts "${worker}" known)
if(known EQUAL -1)
    message(FATAL_ERROR "${input}: the service worker ${worker} is not among ${scripts}")
endif()
string(JSON type ERROR_VARIABLE untyped GET "${manifest}" background type)

string(JSON manifest ERROR_VARIABLE ignored REMOVE "${manifest}" key)
set(background "{\"scripts\": [\"${worker}\"]}")
if(NOT untyped)
    string(JSON background SET "${background}" type "\"${type}\"")
endif()
string(JSON manifest SET "${manifest}" background "${background}")
# No data is collected: pages go from the browser to the program on this
# computer only. Firefox asks add-ons to say so.
string(JSON manifest SET "${manifest}" browser_specific_settings
    "{\"gecko\": {\"id\": \"${gecko_id}\", \"strict_min_version\": \"${min_version}\",
      \"data_collection_permissions\": {\"required\": [\"none\"]}}}")

# Each file is written only when it changes, so that nothing after it is
# redone for nothing.
function(write_if_changed path text)
    if(EXISTS "${path}")
        file(READ "${path}" old)
        if(old STREQUAL text)
            return()
        endif()
    endif()
    file(WRITE "${path}" "${text}")
endfunction()

file(MAKE_DIRECTORY "${OUTPUT_DIR}")
write_if_changed("${OUTPUT_DIR}/manifest.json" "${manifest}\n")
foreach(script IN LISTS scripts)
    file(COPY_FILE "${SOURCE_DIR}/extension/${script}" "${OUTPUT_DIR}/${script}" ONLY_IF_DIFFERENT)
endforeach()
