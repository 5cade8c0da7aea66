# kelmtool run as a whole program: the command scenarios of tests/cli/ against --sim flash files
# (the Windows build runs the same ones against kelmtool.exe under Wine), and the manual page held
# to what --help shows.
add_test(NAME kelmtool_scenarios
    COMMAND bash ${CMAKE_SOURCE_DIR}/tests/cli/scenarios.sh ${CMAKE_BINARY_DIR}/kelmtool-scenarios
        ${CMAKE_SOURCE_DIR}/src/data/vgc_block.bin $<TARGET_FILE:kelmtool>)
add_test(NAME kelmtool_man_page
    COMMAND bash ${CMAKE_SOURCE_DIR}/tests/cli/man_page_check.sh ${CMAKE_BINARY_DIR}/kelmtool.1
        $<TARGET_FILE:kelmtool>)
set_tests_properties(kelmtool_scenarios kelmtool_man_page PROPERTIES TIMEOUT 300 LABELS tool)
