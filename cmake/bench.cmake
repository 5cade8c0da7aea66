# The benchmarks: the program's routines against the stand-in and the simulated board, timed
# with Google Benchmark (Debian: libbenchmark-dev). Figures from a Debug or sanitized build say
# nothing about the program, so such a build is warned about.
find_package(benchmark REQUIRED)

if(KELM_SANITIZE OR NOT CMAKE_BUILD_TYPE STREQUAL "Release")
    message(WARNING "kelm_bench in a ${CMAKE_BUILD_TYPE} build with sanitizers "
        "'${KELM_SANITIZE}': its figures are not the program's; use the preset bench")
endif()

file(GLOB BENCH_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/bench/*.cpp)
# The demo's sample flash is what the restore row dumps and restores.
list(APPEND BENCH_SOURCES ${CMAKE_SOURCE_DIR}/demo/sample_flash.cpp)
add_executable(kelm_bench ${BENCH_SOURCES})
target_include_directories(kelm_bench PRIVATE ${CMAKE_SOURCE_DIR}/bench ${CMAKE_SOURCE_DIR}/src
    ${CMAKE_SOURCE_DIR})
# kelmtool's core too: kelmtool's write, info, dump and restore are measured against the window's.
target_link_libraries(kelm_bench PRIVATE test_world kelm_core kelmtool_core sim_board benchmark::benchmark)
# kelmtool itself, run as a process on several simulated boards (many_boards_bench.cpp).
target_compile_definitions(kelm_bench PRIVATE KELMTOOL_PATH="$<TARGET_FILE:kelmtool>")
add_dependencies(kelm_bench kelmtool)
