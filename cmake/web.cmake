# The web page (preset "web"): the engine of core/ and the simulated board of sim/ compiled to
# WebAssembly by emscripten and bound with embind (web/wasm/), beside the site's own files
# (web/site/), all in build/web/site/: copied to any static host, that folder is the whole site.
set(KELM_SITE_DIR ${CMAKE_BINARY_DIR}/site)

# Debian's emcc runs its JavaScript optimiser with the system's Node.js, which finds Debian's
# acorn only through NODE_PATH.
set(KELM_NODE_ENV ${CMAKE_COMMAND} -E env NODE_PATH=/usr/share/nodejs:/usr/lib/nodejs)
set(CMAKE_CXX_COMPILER_LAUNCHER ${KELM_NODE_ENV})
set(CMAKE_CXX_LINKER_LAUNCHER ${KELM_NODE_ENV})

file(GLOB KELM_WEB_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/web/wasm/*.cpp)
add_executable(kelm_web ${KELM_WEB_SOURCES} ${KELM_PORTABLE_SOURCES} ${KELM_SIM_SOURCES})
target_include_directories(kelm_web PRIVATE ${CMAKE_SOURCE_DIR}/src ${CMAKE_SOURCE_DIR})
target_compile_options(kelm_web PRIVATE -O2 -fexceptions)
target_link_options(kelm_web PRIVATE -O2 -fexceptions -lembind -sMODULARIZE=1 -sEXPORT_ES6=1
    -sENVIRONMENT=web -sALLOW_MEMORY_GROWTH=1 -sEXPORT_NAME=loadKelm)
set_target_properties(kelm_web PROPERTIES OUTPUT_NAME kelm SUFFIX .js
    RUNTIME_OUTPUT_DIRECTORY ${KELM_SITE_DIR})

# The site's own files, copied as they are.
file(GLOB KELM_SITE_FILES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/web/site/*)
set(KELM_SITE_COPIES "")
foreach(file ${KELM_SITE_FILES})
    get_filename_component(name ${file} NAME)
    add_custom_command(OUTPUT ${KELM_SITE_DIR}/${name}
        COMMAND ${CMAKE_COMMAND} -E copy_if_different ${file} ${KELM_SITE_DIR}/${name}
        DEPENDS ${file})
    list(APPEND KELM_SITE_COPIES ${KELM_SITE_DIR}/${name})
endforeach()
add_custom_target(web_site ALL DEPENDS ${KELM_SITE_COPIES} kelm_web)
