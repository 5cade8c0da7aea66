# The manual page, with the project's version and its EXIT STATUS section made from
# tool/exit_codes.def, the one definition of kelmtool's exit codes.
set(KELMTOOL_EXIT_CODES_FILE ${CMAKE_SOURCE_DIR}/tool/exit_codes.def)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${KELMTOOL_EXIT_CODES_FILE})
file(STRINGS ${KELMTOOL_EXIT_CODES_FILE} KELMTOOL_EXIT_CODE_LINES REGEX "^KELM_EXIT_CODE\\(")
set(KELMTOOL_EXIT_STATUS "")
foreach(line IN LISTS KELMTOOL_EXIT_CODE_LINES)
    if(NOT line MATCHES "^KELM_EXIT_CODE\\([A-Za-z]+, ([0-9]+), \"[^\"]*\", \"([^\"]*)\"\\)$")
        message(FATAL_ERROR "tool/exit_codes.def: cannot read the line: ${line}")
    endif()
    set(number ${CMAKE_MATCH_1})
    # roff: a hyphen is a minus sign unless escaped, and a line must not begin with a period.
    string(REPLACE "-" "\\-" text "${CMAKE_MATCH_2}")
    string(APPEND KELMTOOL_EXIT_STATUS ".TP\n.B ${number}\n${text}\n")
endforeach()
string(REGEX REPLACE "\n$" "" KELMTOOL_EXIT_STATUS "${KELMTOOL_EXIT_STATUS}")
configure_file(${CMAKE_SOURCE_DIR}/packaging/kelmtool.1.in ${CMAKE_BINARY_DIR}/kelmtool.1 @ONLY)
