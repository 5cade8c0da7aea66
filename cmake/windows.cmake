# kelm.exe: the product, against the real Win32 API. HID.DLL is loaded at run time by name,
# so it must not appear among the imports: only SetupAPI, comdlg32, user32 and kernel32 are linked.
enable_language(RC)

add_executable(kelm WIN32 ${KELM_SOURCES} ${CMAKE_SOURCE_DIR}/src/ui/kelm.rc)
target_include_directories(kelm PRIVATE ${CMAKE_SOURCE_DIR}/src ${CMAKE_SOURCE_DIR}/src/ui)
target_link_libraries(kelm PRIVATE setupapi comdlg32 user32 kernel32)
set_target_properties(kelm PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
if(MINGW)
    # No MinGW DLLs beside the exe.
    target_link_options(kelm PRIVATE -static -static-libgcc -static-libstdc++)
endif()
