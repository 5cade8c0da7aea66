# kelmtool.exe: the command-line companion for Windows, a console program on HID.DLL (loaded by
# name at run time) and SetupAPI, with the simulated board of --sim. Self-contained like kelm.exe.
#
# CLI11 and nlohmann-json are header-only; they come from the build machine's packages through a
# folder holding links to just those two, so that the cross build never sees /usr/include.
set(KELMTOOL_HEADER_ROOT /usr/include CACHE PATH "where CLI/ and nlohmann/ are (Debian's packages)")
set(KELMTOOL_THIRD_PARTY ${CMAKE_BINARY_DIR}/kelmtool-third-party)
foreach(library CLI nlohmann)
    if(NOT EXISTS ${KELMTOOL_HEADER_ROOT}/${library})
        message(FATAL_ERROR "kelmtool.exe needs ${KELMTOOL_HEADER_ROOT}/${library} "
            "(Debian: libcli11-dev, nlohmann-json3-dev)")
    endif()
    file(MAKE_DIRECTORY ${KELMTOOL_THIRD_PARTY})
    file(CREATE_LINK ${KELMTOOL_HEADER_ROOT}/${library} ${KELMTOOL_THIRD_PARTY}/${library} SYMBOLIC)
endforeach()

add_executable(kelmtool ${CMAKE_SOURCE_DIR}/tool/main.cpp ${KELMTOOL_SOURCES}
    ${KELMTOOL_PLATFORM_SOURCES} ${KELM_PORTABLE_SOURCES} ${KELM_SIM_SOURCES})
target_include_directories(kelmtool PRIVATE ${CMAKE_SOURCE_DIR}/tool ${CMAKE_SOURCE_DIR}/src
    ${CMAKE_SOURCE_DIR})
target_include_directories(kelmtool SYSTEM PRIVATE ${KELMTOOL_THIRD_PARTY})
target_compile_definitions(kelmtool PRIVATE KELM_VERSION="${PROJECT_VERSION}")
target_link_libraries(kelmtool PRIVATE setupapi kernel32)
set_target_properties(kelmtool PROPERTIES RUNTIME_OUTPUT_DIRECTORY $<1:${CMAKE_BINARY_DIR}>)
kelm_self_contained(kelmtool)
if(MINGW)
    # The simulated board and the tool's waits need std::mutex and std::this_thread, which
    # MinGW's win32 thread model lacks: the shim the demo uses supplies them.
    target_compile_options(kelmtool PRIVATE -include ${CMAKE_SOURCE_DIR}/cmake/mingw_std_mutex.h)
endif()

# The command scenarios of tests/cli/, the same as the host build runs against the Linux kelmtool,
# here against kelmtool.exe under Wine; with no board passed to Wine, also info's exit 3 and an
# empty list.
if(KELM_WINDOWS_TESTS AND KELM_WINE)
    add_test(NAME kelmtool_exe_scenarios
        COMMAND bash ${CMAKE_SOURCE_DIR}/tests/cli/scenarios.sh --no-board
            ${CMAKE_BINARY_DIR}/kelmtool-scenarios ${CMAKE_SOURCE_DIR}/src/data/vgc_block.bin
            env WINEDEBUG=-all WINEPREFIX=${KELM_WINEPREFIX} ${KELM_WINE} $<TARGET_FILE:kelmtool>)
    # With Wine's HID.DLL switched off (the library cannot be loaded): no board, an empty list,
    # and a --path refused with exit 3, each without a crash.
    add_test(NAME kelmtool_exe_without_hid_dll
        COMMAND bash ${CMAKE_SOURCE_DIR}/tests/cli/scenarios.sh --no-board-only
            ${CMAKE_BINARY_DIR}/kelmtool-no-hid ${CMAKE_SOURCE_DIR}/src/data/vgc_block.bin
            env WINEDEBUG=-all WINEDLLOVERRIDES=hid=d WINEPREFIX=${KELM_WINEPREFIX} ${KELM_WINE}
            $<TARGET_FILE:kelmtool>)
    set_tests_properties(kelmtool_exe_scenarios kelmtool_exe_without_hid_dll PROPERTIES
        TIMEOUT 300 LABELS windows)
endif()
