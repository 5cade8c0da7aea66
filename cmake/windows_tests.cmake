# The tests that need neither a window nor the stand-in (report layouts, slot headers,
# placement, file lengths), built with the same compiler as kelm.exe and run under Wine through
# CTest, so that the Windows data model (32-bit long, 64-bit pointers) is tested where it
# differs from Linux. kelm.exe itself is built exactly as without them.
#
# GoogleTest comes from source: Debian's googletest package, /usr/src/googletest.
set(KELM_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources (Debian: googletest)")
if(NOT EXISTS ${KELM_GTEST_SOURCE}/googletest/CMakeLists.txt)
    message(FATAL_ERROR "KELM_WINDOWS_TESTS needs the GoogleTest sources in ${KELM_GTEST_SOURCE}")
endif()
# MinGW's win32 thread model (Debian's default x86_64-w64-mingw32-g++) has neither pthreads
# nor std::mutex and std::condition_variable, which GoogleTest's Windows port needs: a shim
# supplies the two, forced into GoogleTest and the tests.
set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(${KELM_GTEST_SOURCE}/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
target_compile_options(gtest PUBLIC
    -include ${CMAKE_SOURCE_DIR}/cmake/mingw_std_mutex.h)
# GoogleTest is not held to the project's warnings.
target_compile_options(gtest PRIVATE -w)
target_compile_options(gtest_main PRIVATE -w)

# The program's own sources in a library: the tests pull in what they use, against the real
# Win32 API (placement's slot map lives with the catalogue scan, which reaches the device link).
add_library(kelm_core_windows STATIC ${KELM_SOURCES})
target_include_directories(kelm_core_windows PUBLIC ${CMAKE_SOURCE_DIR}/src ${CMAKE_SOURCE_DIR})
target_link_libraries(kelm_core_windows PUBLIC setupapi comdlg32 user32 kernel32)

# Tests by folder of tests/ ("area:file,file"), as in the host build; only files that include
# neither the stand-in nor the simulated board belong here.
set(KELM_WINDOWS_TESTS_BY_AREA
    "core:slot_header_test.cpp,write_plan_test.cpp"
    "catalogue:placement_test.cpp"
    "device:command_protocol_layout_test.cpp"
    "operations:file_length_test.cpp")

# Wine runs each test program, with a prefix of its own under the build folder; scripts/test.sh
# creates the prefix once (wineboot) before ctest, since its first start takes a while.
set(KELM_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
find_program(KELM_WINE NAMES wine64 wine)
find_program(KELM_WINESERVER wineserver)
find_program(KELM_WINEBOOT wineboot)
if(NOT KELM_WINE OR NOT KELM_WINESERVER OR NOT KELM_WINEBOOT)
    message(WARNING "wine, wineserver or wineboot not found: the Windows tests build but cannot run")
else()
    # CTest reads each test program's output through pipes, and lists the tests by running the
    # programs before any test starts. Wine's server and its own processes (services.exe,
    # winedevice.exe, explorer.exe ...) are started before that, with every standard handle on
    # /dev/null: started by a test program they would inherit its pipes, outlive it, and hold
    # CTest until the test's time-out. The server stays 60 s after the last Wine program ends.
    file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/wine_up.cmake @ONLY CONTENT [[
file(MAKE_DIRECTORY "@KELM_WINEPREFIX@")
foreach(command "@KELM_WINESERVER@;-p60" "@KELM_WINEBOOT@")
    execute_process(COMMAND env WINEDEBUG=-all WINEPREFIX=@KELM_WINEPREFIX@ ${command}
        INPUT_FILE /dev/null OUTPUT_FILE /dev/null ERROR_FILE /dev/null TIMEOUT 600
        RESULT_VARIABLE status)
endforeach()
if(NOT status EQUAL 0)
    message(WARNING "wineboot failed (${status}): the Windows tests cannot run")
endif()
]])
    # Included by CTest before the tests' own lists, which gtest_discover_tests adds below.
    set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${CMAKE_BINARY_DIR}/wine_up.cmake)
endif()

include(GoogleTest)
enable_testing()
foreach(entry ${KELM_WINDOWS_TESTS_BY_AREA})
    string(REGEX REPLACE "[:,]" ";" parts "${entry}")
    list(GET parts 0 area)
    list(SUBLIST parts 1 -1 names)
    set(sources "")
    foreach(name ${names})
        list(APPEND sources ${CMAKE_SOURCE_DIR}/tests/${area}/${name})
    endforeach()
    set(target ${area}_windows_tests)
    add_executable(${target} ${sources})
    target_link_libraries(${target} PRIVATE kelm_core_windows gtest_main)
    kelm_self_contained(${target})
    set_target_properties(${target} PROPERTIES CROSSCOMPILING_EMULATOR
        "env;WINEDEBUG=-all;WINEPREFIX=${KELM_WINEPREFIX};${KELM_WINE}")
    # Listed when ctest runs, not at build time: by then scripts/test.sh has made the prefix.
    gtest_discover_tests(${target} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 300
        PROPERTIES TIMEOUT 300 LABELS windows)
endforeach()
