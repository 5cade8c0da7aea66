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

# The shell completions, written by kelmtool itself from its command table, in the folders that
# bash-completion, zsh and fish look in under the prefix.
set(KELMTOOL_COMPLETIONS
    "bash|bash-completion/completions/kelmtool"
    "zsh|zsh/site-functions/_kelmtool"
    "fish|fish/vendor_completions.d/kelmtool.fish")
set(KELMTOOL_COMPLETION_FILES "")
foreach(entry IN LISTS KELMTOOL_COMPLETIONS)
    string(REPLACE "|" ";" parts "${entry}")
    list(GET parts 0 shell)
    list(GET parts 1 destination)
    set(output ${CMAKE_BINARY_DIR}/completions/${shell}/${destination})
    get_filename_component(folder ${destination} DIRECTORY)
    add_custom_command(OUTPUT ${output}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/completions/${shell}/${folder}
        COMMAND ${CMAKE_COMMAND} -DTOOL=$<TARGET_FILE:kelmtool> -DSHELL_NAME=${shell}
            -DOUTPUT=${output} -P ${CMAKE_SOURCE_DIR}/cmake/kelmtool_completion_run.cmake
        DEPENDS kelmtool ${CMAKE_SOURCE_DIR}/cmake/kelmtool_completion_run.cmake
        COMMENT "kelmtool completion ${shell}" VERBATIM)
    list(APPEND KELMTOOL_COMPLETION_FILES ${output})
    install(FILES ${output} DESTINATION share/${folder})
endforeach()
add_custom_target(kelmtool_completions ALL DEPENDS ${KELMTOOL_COMPLETION_FILES})

# The udev rule goes beside the program's other files, not into the system's rules: enabling it
# is the administrator's step, which the install names.
install(FILES ${CMAKE_SOURCE_DIR}/packaging/60-kelm.rules DESTINATION share/kelmtool)
install(CODE "message(STATUS \"kelmtool: to let the user at the machine open the board, run: \
sudo cp \${CMAKE_INSTALL_PREFIX}/share/kelmtool/60-kelm.rules /etc/udev/rules.d/ && \
sudo udevadm control --reload-rules (then plug the board in again)\")")
