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

add_library(fuzz_support STATIC ${FUZZ_SUPPORT_SOURCES})
target_include_directories(fuzz_support PUBLIC ${CMAKE_SOURCE_DIR}/fuzz ${CMAKE_SOURCE_DIR}/src)
target_link_libraries(fuzz_support PUBLIC kelm_core kelm_resources sim_board)

foreach(source ${FUZZ_TARGET_SOURCES})
    get_filename_component(name ${source} NAME_WE)
    add_executable(${name} ${source})
    target_link_libraries(${name} PRIVATE fuzz_support)
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
endforeach()
