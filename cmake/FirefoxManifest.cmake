# Writes the Firefox build's manifest from extension/manifest.json, so that
# whatever the Chromium manifest gains (a permission, a new version) reaches
# Firefox without a second copy to keep. What Firefox needs differently:
# no "key" (Chromium's way to fix the id), an event page instead of the
# service worker (Firefox runs extension background code as scripts), and
# the gecko id the program's host manifest allows.
#   cmake -DINPUT=manifest.json -DOUTPUT=FILE -DGECKO_ID=ID -DMIN_VERSION=V -P FirefoxManifest.cmake
foreach(var INPUT OUTPUT GECKO_ID MIN_VERSION)
    if(NOT DEFINED ${var} OR "${${var}}" STREQUAL "")
        message(FATAL_ERROR "FirefoxManifest.cmake: ${var} is not set")
    endif()
endforeach()
file(READ "${INPUT}" manifest)

string(JSON worker ERROR_VARIABLE missing GET "${manifest}" background service_worker)
if(missing)
    message(FATAL_ERROR "${INPUT}: no background.service_worker to turn into a script")
endif()
string(JSON type ERROR_VARIABLE untyped GET "${manifest}" background type)

string(JSON manifest ERROR_VARIABLE ignored REMOVE "${manifest}" key)
set(background "{\"scripts\": [\"${worker}\"]}")
if(NOT untyped)
    string(JSON background SET "${background}" type "\"${type}\"")
endif()
string(JSON manifest SET "${manifest}" background "${background}")
# No data is collected: the pages go from the browser to the program on
# this computer only. Firefox asks new add-ons to say so.
string(JSON manifest SET "${manifest}" browser_specific_settings
    "{\"gecko\": {\"id\": \"${GECKO_ID}\", \"strict_min_version\": \"${MIN_VERSION}\",
      \"data_collection_permissions\": {\"required\": [\"none\"]}}}")

# Written only when it changes, so that the package is not rebuilt for nothing.
set(text "${manifest}\n")
if(EXISTS "${OUTPUT}")
    file(READ "${OUTPUT}" old)
    if(old STREQUAL text)
        return()
    endif()
endif()
file(WRITE "${OUTPUT}" "${text}")
