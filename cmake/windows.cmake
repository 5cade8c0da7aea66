# kelm.exe: the product, against the real Win32 API, with MinGW-w64 (native or cross) or MSVC.
# HID.DLL is loaded at run time by name, so it must not appear among the imports: only SetupAPI,
# comdlg32, user32 and kernel32 are linked, and nothing else is put on the link line behind our
# back (the platform's default list would add gdi32, shell32, ole32 and more).
enable_language(RC)

set(CMAKE_C_STANDARD_LIBRARIES "")
set(CMAKE_CXX_STANDARD_LIBRARIES "")

# kelm_self_contained(TARGET...): each program runs from its folder alone, with no runtime DLL
# beside it: the C (and C++) runtime linked in, with MSVC or MinGW alike.
function(kelm_self_contained)
    foreach(target ${ARGN})
        if(MSVC)
            # Without the Visual C++ redistributable; the plain C file and string routines are
            # used on purpose.
            set_target_properties(${target} PROPERTIES
                MSVC_RUNTIME_LIBRARY "MultiThreaded$<$<CONFIG:Debug>:Debug>")
            target_compile_definitions(${target} PRIVATE _CRT_SECURE_NO_WARNINGS)
        elseif(MINGW)
            target_link_options(${target} PRIVATE -static -static-libgcc -static-libstdc++)
        endif()
    endforeach()
endfunction()

# The dialog, logo, icon, manifest and version. The resource compiler finds resource.h, the
# generated kelm_version.h and the image files through the include directories.
add_executable(kelm WIN32 ${KELM_SOURCES} ${CMAKE_SOURCE_DIR}/src/ui/kelm.rc)
target_include_directories(kelm PRIVATE ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/src ${CMAKE_SOURCE_DIR}/src/ui
    ${CMAKE_BINARY_DIR}/generated)
target_link_libraries(kelm PRIVATE setupapi comdlg32 user32 kernel32)
# build/<folder>/kelm.exe with every generator: the generator expression keeps the multi-config
# ones (Visual Studio) from adding a Release/ or Debug/ folder.
set_target_properties(kelm PROPERTIES RUNTIME_OUTPUT_DIRECTORY $<1:${CMAKE_BINARY_DIR}>)
set_property(SOURCE ${CMAKE_SOURCE_DIR}/src/ui/kelm.rc APPEND PROPERTY OBJECT_DEPENDS
    ${CMAKE_SOURCE_DIR}/src/ui/resource.h ${CMAKE_SOURCE_DIR}/src/ui/logo.bmp
    ${CMAKE_SOURCE_DIR}/src/ui/kelm.ico ${CMAKE_SOURCE_DIR}/src/ui/kelm.manifest
    ${CMAKE_BINARY_DIR}/generated/kelm_version.h)

kelm_self_contained(kelm)
if(MSVC)
    # kelm.rc carries the manifest; one made by the linker would be a second resource 24/1.
    target_link_options(kelm PRIVATE /MANIFEST:NO)
endif()

# kelm-demo.exe: the same program and window, with the device link wired to the simulated board
# (demo/) instead of the system's HID stack. The program's sources are compiled once more with
# demo/device_seam.h forced in front, which renames the device-facing Win32 calls to the demo's;
# the sources themselves do not know. kelm above is built exactly as without this.
file(GLOB DEMO_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/demo/*.cpp)
add_library(kelm_demo_board STATIC ${DEMO_SOURCES} ${KELM_SIM_SOURCES})
target_include_directories(kelm_demo_board PUBLIC ${CMAKE_SOURCE_DIR})
if(MINGW)
    set_property(SOURCE ${KELM_SIM_SOURCES} APPEND PROPERTY COMPILE_OPTIONS
        -include ${CMAKE_SOURCE_DIR}/cmake/mingw_std_mutex.h)
endif()

add_executable(kelm-demo WIN32 ${KELM_SOURCES} ${CMAKE_SOURCE_DIR}/src/ui/kelm.rc)
target_include_directories(kelm-demo PRIVATE ${CMAKE_SOURCE_DIR}/src ${CMAKE_SOURCE_DIR}/src/ui
    ${CMAKE_SOURCE_DIR} ${CMAKE_BINARY_DIR}/generated)
if(MSVC)
    target_compile_options(kelm-demo PRIVATE
        $<$<COMPILE_LANGUAGE:CXX>:/FI${CMAKE_SOURCE_DIR}/demo/device_seam.h>)
else()
    target_compile_options(kelm-demo PRIVATE
        $<$<COMPILE_LANGUAGE:CXX>:-include ${CMAKE_SOURCE_DIR}/demo/device_seam.h>)
endif()
target_link_libraries(kelm-demo PRIVATE kelm_demo_board setupapi comdlg32 user32 kernel32)
set_target_properties(kelm-demo PROPERTIES RUNTIME_OUTPUT_DIRECTORY $<1:${CMAKE_BINARY_DIR}>)
kelm_self_contained(kelm-demo kelm_demo_board)
if(MSVC)
    target_link_options(kelm-demo PRIVATE /MANIFEST:NO)
endif()

# The end-to-end tests' driver (tests/e2e/): a console program that runs beside kelm-demo.exe
# under the same Wine and works its window from outside; and the runner's own test program
# (tests/e2e/handle_holder/), which leaves a process behind holding a step's output.
file(GLOB E2E_DRIVER_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/e2e/*.cpp)
if(E2E_DRIVER_SOURCES)
    add_executable(kelm-e2e-driver ${E2E_DRIVER_SOURCES})
    target_include_directories(kelm-e2e-driver PRIVATE ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/src)
    target_link_libraries(kelm-e2e-driver PRIVATE user32 gdi32 kernel32)
    add_executable(kelm-e2e-handle-holder ${CMAKE_SOURCE_DIR}/tests/e2e/handle_holder/handle_holder.cpp)
    target_link_libraries(kelm-e2e-handle-holder PRIVATE kernel32)
    foreach(program kelm-e2e-driver kelm-e2e-handle-holder)
        set_target_properties(${program} PROPERTIES RUNTIME_OUTPUT_DIRECTORY $<1:${CMAKE_BINARY_DIR}>)
    endforeach()
    kelm_self_contained(kelm-e2e-driver kelm-e2e-handle-holder)
endif()
