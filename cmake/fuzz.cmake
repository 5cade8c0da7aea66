# libFuzzer targets (clang only): fuzz/*_fuzz.cpp, each one program that runs the program's own
# routines against the Win32 stand-in and the simulated board. The libraries are built with
# -fsanitize=fuzzer-no-link (through KELM_SANITIZE, see the "fuzz" preset) so that libFuzzer
# sees their comparisons and branches; only the targets link libFuzzer's main.
if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "KELM_FUZZ needs clang (libFuzzer); configure with the fuzz preset")
endif()

file(GLOB FUZZ_TARGET_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/fuzz/*_fuzz.cpp)
file(GLOB FUZZ_SUPPORT_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/fuzz/*.cpp)
list(FILTER FUZZ_SUPPORT_SOURCES EXCLUDE REGEX "_fuzz\\.cpp$")
# kelmtool's side of the kelmtool_* targets, in a library of its own: those files meet kelmtool's
# headers and never the window's.
set(FUZZ_KELMTOOL_SOURCES ${FUZZ_SUPPORT_SOURCES})
list(FILTER FUZZ_KELMTOOL_SOURCES INCLUDE REGEX "/kelmtool_[^/]*\\.cpp$")
list(FILTER FUZZ_SUPPORT_SOURCES EXCLUDE REGEX "/kelmtool_[^/]*\\.cpp$")

add_library(fuzz_support STATIC ${FUZZ_SUPPORT_SOURCES})
target_include_directories(fuzz_support PUBLIC ${CMAKE_SOURCE_DIR}/fuzz ${CMAKE_SOURCE_DIR}/src)
target_link_libraries(fuzz_support PUBLIC test_world kelm_core kelm_resources sim_board)

add_library(fuzz_kelmtool STATIC ${FUZZ_KELMTOOL_SOURCES})
target_include_directories(fuzz_kelmtool PUBLIC ${CMAKE_SOURCE_DIR}/fuzz)
target_link_libraries(fuzz_kelmtool PUBLIC kelmtool_core)

# "fuzz_targets" builds them all: the fuzz preset's one target, whatever fuzz/ holds.
add_custom_target(fuzz_targets)
foreach(source ${FUZZ_TARGET_SOURCES})
    get_filename_component(name ${source} NAME_WE)
    add_executable(${name} ${source})
    target_link_libraries(${name} PRIVATE fuzz_support)
    if(name MATCHES "^kelmtool_")
        target_link_libraries(${name} PRIVATE fuzz_kelmtool)
    endif()
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
    add_dependencies(fuzz_targets ${name})
endforeach()
