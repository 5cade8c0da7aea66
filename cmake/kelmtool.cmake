# kelmtool: the command-line companion, on the portable core, the simulated board (--sim) and
# hidapi (Linux: the hidraw backend; macOS: hidapi). Header-only CLI11 and nlohmann-json.
find_package(PkgConfig REQUIRED)
if(APPLE)
    pkg_check_modules(HIDAPI REQUIRED IMPORTED_TARGET hidapi)
else()
    pkg_check_modules(HIDAPI REQUIRED IMPORTED_TARGET hidapi-hidraw)
endif()
find_package(nlohmann_json 3 REQUIRED)
find_path(KELM_CLI11_INCLUDE CLI/CLI.hpp REQUIRED)

add_library(kelmtool_core STATIC ${KELMTOOL_SOURCES} ${KELMTOOL_PLATFORM_SOURCES})
target_include_directories(kelmtool_core PUBLIC ${CMAKE_SOURCE_DIR}/tool ${CMAKE_SOURCE_DIR}
    ${KELM_CLI11_INCLUDE})
target_link_libraries(kelmtool_core PUBLIC kelm_portable sim_board PkgConfig::HIDAPI
    nlohmann_json::nlohmann_json)

add_executable(kelmtool ${CMAKE_SOURCE_DIR}/tool/main.cpp)
target_link_libraries(kelmtool PRIVATE kelmtool_core)
target_compile_definitions(kelmtool PRIVATE KELM_VERSION="${PROJECT_VERSION}")
install(TARGETS kelmtool RUNTIME DESTINATION bin)

include(${CMAKE_SOURCE_DIR}/cmake/kelmtool_man.cmake)
install(FILES ${CMAKE_BINARY_DIR}/kelmtool.1 DESTINATION share/man/man1)
