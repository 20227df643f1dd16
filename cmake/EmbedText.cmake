# Writes a C++ source defining a string constant with a file's text, so that
# a file shipped elsewhere (the extension's page script) is compiled in as
# it is, never copied by hand.
#   cmake -DINPUT=FILE -DOUTPUT=FILE.cpp -DHEADER=name.h -DNAMESPACE=ns -DNAME=Var -P EmbedText.cmake
foreach(var INPUT OUTPUT HEADER NAMESPACE NAME)
    if(NOT DEFINED ${var})
        message(FATAL_ERROR "EmbedText.cmake: ${var} is not set")
    endif()
endforeach()
file(READ "${INPUT}" text)
# A raw string literal ends at )DELIMITER"; the file must not hold that.
set(delimiter "larkspool_text")
if(text MATCHES "\\)${delimiter}\"")
    message(FATAL_ERROR "${INPUT} holds the raw string delimiter ${delimiter}")
endif()
# One literal per piece keeps each well below compilers' literal limits.
string(LENGTH "${text}" length)
set(pieces "")
set(offset 0)
while(offset LESS length)
    string(SUBSTRING "${text}" ${offset} 8000 piece)
    string(APPEND pieces "R\"${delimiter}(${piece})${delimiter}\"\n")
    math(EXPR offset "${offset} + 8000")
endwhile()
if(pieces STREQUAL "")
    set(pieces "\"\"\n")
endif()
set(content "// Generated from ${INPUT} by EmbedText.cmake; edit that file instead.
#include \"${HEADER}\"

namespace ${NAMESPACE} {

const std::string_view ${NAME} =
${pieces};

} // namespace ${NAMESPACE}
")
# Unchanged text leaves the file (and what compiles it) alone.
if(EXISTS "${OUTPUT}")
    file(READ "${OUTPUT}" old)
    if(old STREQUAL content)
        return()
    endif()
endif()
file(WRITE "${OUTPUT}" "${content}")
