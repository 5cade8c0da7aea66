# kelm.exe: the product, against the real Win32 API, with MinGW-w64 (native or cross) or MSVC.
# HID.DLL is loaded at run time by name, so it must not appear among the imports: only SetupAPI,
# comdlg32, user32 and kernel32 are linked, and nothing else is put on the link line behind our
# back (the platform's default list would add gdi32, shell32, ole32 and more).
enable_language(RC)

set(CMAKE_C_STANDARD_LIBRARIES "")
set(CMAKE_CXX_STANDARD_LIBRARIES "")

# The dialog, logo, icon, manifest and version. The resource compiler finds resource.h and the
# image files through the include directories.
add_executable(kelm WIN32 ${KELM_SOURCES} ${CMAKE_SOURCE_DIR}/src/ui/kelm.rc)
target_include_directories(kelm PRIVATE ${CMAKE_SOURCE_DIR}/src ${CMAKE_SOURCE_DIR}/src/ui)
target_link_libraries(kelm PRIVATE setupapi comdlg32 user32 kernel32)
# build/<folder>/kelm.exe with every generator: the generator expression keeps the multi-config
# ones (Visual Studio) from adding a Release/ or Debug/ folder.
set_target_properties(kelm PROPERTIES RUNTIME_OUTPUT_DIRECTORY $<1:${CMAKE_BINARY_DIR}>)
set_property(SOURCE ${CMAKE_SOURCE_DIR}/src/ui/kelm.rc APPEND PROPERTY OBJECT_DEPENDS
    ${CMAKE_SOURCE_DIR}/src/ui/resource.h ${CMAKE_SOURCE_DIR}/src/ui/logo.bmp
    ${CMAKE_SOURCE_DIR}/src/ui/kelm.ico ${CMAKE_SOURCE_DIR}/src/ui/kelm.manifest)

if(MSVC)
    # The C runtime linked in, so that kelm.exe runs without the Visual C++ redistributable.
    set_target_properties(kelm PROPERTIES
        MSVC_RUNTIME_LIBRARY "MultiThreaded$<$<CONFIG:Debug>:Debug>")
    # The program uses the standard C library's plain file and string routines on purpose.
    target_compile_definitions(kelm PRIVATE _CRT_SECURE_NO_WARNINGS)
    # kelm.rc carries the manifest; one made by the linker would be a second resource 24/1.
    target_link_options(kelm PRIVATE /MANIFEST:NO)
elseif(MINGW)
    # No MinGW DLLs beside the exe.
    target_link_options(kelm PRIVATE -static -static-libgcc -static-libstdc++)
endif()
