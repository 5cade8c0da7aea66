# The host build: program sources against the Win32 stand-in, the simulated board and the tests.
find_package(Threads REQUIRED)
find_package(GTest REQUIRED)
include(GoogleTest)

if(KELM_SANITIZE)
    add_compile_options(-fsanitize=${KELM_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
    add_link_options(-fsanitize=${KELM_SANITIZE})
endif()

include(${CMAKE_SOURCE_DIR}/cmake/portable.cmake)

file(GLOB STANDIN_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/win32/src/*.cpp)
add_library(win32_standin STATIC ${STANDIN_SOURCES})
# The stand-in's headers come before any system header, as <windows.h> does on Windows.
target_include_directories(win32_standin PUBLIC ${CMAKE_SOURCE_DIR}/win32/include ${CMAKE_SOURCE_DIR})
target_link_libraries(win32_standin PUBLIC sim_board Threads::Threads)

set(KELM_WINDOW_SOURCES ${KELM_SOURCES})
list(REMOVE_ITEM KELM_WINDOW_SOURCES ${KELM_PORTABLE_SOURCES})
add_library(kelm_core STATIC ${KELM_WINDOW_SOURCES})
target_include_directories(kelm_core PUBLIC ${CMAKE_SOURCE_DIR}/src)
target_link_libraries(kelm_core PUBLIC kelm_portable win32_standin)

# kelm_embed_res(RC NAME SYMBOL DEPENDS...): compiles the resource script RC with the resource
# compiler that kelm.exe uses (its folder the working and include folder, with src/ and the
# generated headers) into NAME.res, and generates generated/NAME_res.cpp, which defines SYMBOL
# as the .res file's bytes.
function(kelm_embed_res rc name symbol)
    find_program(KELM_WINDRES NAMES x86_64-w64-mingw32-windres windres REQUIRED)
    get_filename_component(folder ${rc} DIRECTORY)
    add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/${name}.res
        COMMAND ${KELM_WINDRES} -I ${folder} -I ${CMAKE_SOURCE_DIR}/src
                -I ${CMAKE_BINARY_DIR}/generated -O res -i ${rc} -o ${CMAKE_BINARY_DIR}/${name}.res
        DEPENDS ${rc} ${ARGN}
        WORKING_DIRECTORY ${folder})
    add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/generated/${name}_res.cpp
        COMMAND ${CMAKE_COMMAND} -DINPUT=${CMAKE_BINARY_DIR}/${name}.res
                -DOUTPUT=${CMAKE_BINARY_DIR}/generated/${name}_res.cpp -DSYMBOL=${symbol}
                -P ${CMAKE_SOURCE_DIR}/cmake/embed_run.cmake
        DEPENDS ${CMAKE_BINARY_DIR}/${name}.res ${CMAKE_SOURCE_DIR}/cmake/embed.cmake)
endfunction()

# The dialog template and the other resources, carried by the test programs as the bytes of the
# .res file.
set(KELM_RC ${CMAKE_SOURCE_DIR}/src/ui/kelm.rc)
if(EXISTS ${KELM_RC})
    file(GLOB KELM_RC_INPUTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/src/ui/*.rc
        ${CMAKE_SOURCE_DIR}/src/ui/*.h ${CMAKE_SOURCE_DIR}/src/ui/*.bmp
        ${CMAKE_SOURCE_DIR}/src/ui/*.ico ${CMAKE_SOURCE_DIR}/src/ui/*.manifest)
    kelm_embed_res(${KELM_RC} kelm kKelmRes ${KELM_RC_INPUTS}
        ${CMAKE_BINARY_DIR}/generated/kelm_version.h)
    add_library(kelm_resources STATIC ${CMAKE_BINARY_DIR}/generated/kelm_res.cpp)
else()
    file(WRITE ${CMAKE_BINARY_DIR}/generated/kelm_res_empty.cpp
        "#include <cstddef>\n#include <cstdint>\nextern const uint8_t kKelmRes[] = {0};\nextern const size_t kKelmResSize = 0;\n")
    add_library(kelm_resources STATIC ${CMAKE_BINARY_DIR}/generated/kelm_res_empty.cpp)
endif()

# Tests: one executable per folder of tests/; the tests of threaded code (the monitor's, and
# kelmtool's boards side by side) apart, so that they can also run under ThreadSanitizer.
enable_testing()
# The world the tests, the fuzz targets and the benchmarks share: no GoogleTest in it.
file(GLOB TEST_WORLD_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/testworld/*.cpp)
add_library(test_world STATIC ${TEST_WORLD_SOURCES})
target_include_directories(test_world PUBLIC ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/src)
target_link_libraries(test_world PUBLIC kelm_core sim_board)

file(GLOB TEST_SUPPORT_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/support/*.cpp)
add_library(test_support STATIC ${TEST_SUPPORT_SOURCES})
target_include_directories(test_support PUBLIC ${CMAKE_SOURCE_DIR}/tests ${CMAKE_SOURCE_DIR}/src)
target_link_libraries(test_support PUBLIC test_world kelm_core kelm_resources sim_board GTest::gtest GTest::gmock)
target_compile_definitions(test_support PUBLIC KELM_SOURCE_DIR="${CMAKE_SOURCE_DIR}")

# The files of threaded tests (scripts/test.sh finds them by the same names).
set(KELM_THREADED_TESTS "monitor|many_boards")
foreach(area win32 sim device catalogue core operations ui reliability demo tool)
    file(GLOB area_tests CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/${area}/*_test.cpp)
    set(threaded_tests ${area_tests})
    list(FILTER threaded_tests INCLUDE REGEX "${KELM_THREADED_TESTS}")
    list(FILTER area_tests EXCLUDE REGEX "${KELM_THREADED_TESTS}")
    if(area_tests)
        add_executable(${area}_tests ${area_tests})
        target_link_libraries(${area}_tests PRIVATE test_support GTest::gtest_main)
        gtest_discover_tests(${area}_tests DISCOVERY_TIMEOUT 120
            PROPERTIES TIMEOUT 300 LABELS ${area})
    endif()
    if(threaded_tests)
        add_executable(${area}_threaded_tests ${threaded_tests})
        target_link_libraries(${area}_threaded_tests PRIVATE test_support GTest::gtest_main)
        gtest_discover_tests(${area}_threaded_tests DISCOVERY_TIMEOUT 120
            # One label: gtest_discover_tests flattens a list of labels into separate
            # properties. ctest -L takes a regular expression, so "threaded" and the area both
            # find these tests.
            PROPERTIES TIMEOUT 300 LABELS ${area}_threaded)
    endif()
endforeach()

# The stand-in's own test dialogs, compiled by the same resource compiler and carried by
# win32_tests as kTestDialogRes.
set(KELM_TEST_RC ${CMAKE_SOURCE_DIR}/tests/win32/test_dialog.rc)
if(TARGET win32_tests AND EXISTS ${KELM_TEST_RC})
    kelm_embed_res(${KELM_TEST_RC} test_dialog kTestDialogRes
        ${CMAKE_SOURCE_DIR}/tests/win32/test_dialog.h)
    target_sources(win32_tests PRIVATE ${CMAKE_BINARY_DIR}/generated/test_dialog_res.cpp)
endif()

# kelmtool, built with the same sanitizers; tests/tool runs it as a whole program.
include(${CMAKE_SOURCE_DIR}/cmake/kelmtool.cmake)
# The tests' own runner of kelmtool as a process, beside them.
file(GLOB TOOL_TEST_SUPPORT CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/tool/*.cpp)
list(FILTER TOOL_TEST_SUPPORT EXCLUDE REGEX "_test\\.cpp$")
foreach(tool_target tool_tests tool_threaded_tests)
    if(TARGET ${tool_target})
        target_link_libraries(${tool_target} PRIVATE kelmtool_core)
        target_compile_definitions(${tool_target} PRIVATE KELMTOOL_PATH="$<TARGET_FILE:kelmtool>")
        add_dependencies(${tool_target} kelmtool)
        target_sources(${tool_target} PRIVATE ${TOOL_TEST_SUPPORT})
    endif()
endforeach()

# kelmtool.exe's link to the real board, compiled against the Win32 stand-in (with the window's
# HID binding from kelm_core) and tested on its simulated boards.
add_executable(tool_win32_tests ${CMAKE_SOURCE_DIR}/tests/tool/win32/win32_link_test.cpp
    ${CMAKE_SOURCE_DIR}/tool/win32_link.cpp ${CMAKE_SOURCE_DIR}/tool/system_error_win32.cpp)
target_include_directories(tool_win32_tests PRIVATE ${CMAKE_SOURCE_DIR}/tool)
target_link_libraries(tool_win32_tests PRIVATE test_support GTest::gtest_main)
gtest_discover_tests(tool_win32_tests DISCOVERY_TIMEOUT 120 PROPERTIES TIMEOUT 300 LABELS tool)

# The parts of kelm-demo.exe that need no Win32 (its sample flash, flash file and link pace),
# tested here; the rest of the demo is tested end to end under Wine (tests/e2e/).
if(TARGET demo_tests)
    add_library(kelm_demo_parts STATIC ${CMAKE_SOURCE_DIR}/demo/sample_flash.cpp
        ${CMAKE_SOURCE_DIR}/demo/demo_flash_file.cpp ${CMAKE_SOURCE_DIR}/demo/link_pace.cpp)
    target_include_directories(kelm_demo_parts PUBLIC ${CMAKE_SOURCE_DIR})
    target_link_libraries(demo_tests PRIVATE kelm_demo_parts)
endif()

# kelmtool's command scenarios and its manual page against --help (tests/cli/).
include(${CMAKE_SOURCE_DIR}/cmake/kelmtool_tests.cmake)
