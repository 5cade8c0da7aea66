# What the host builds share: the portable core (no Win32) and the simulated board.
find_package(Threads REQUIRED)

if(NOT TARGET kelm_portable)
    add_library(kelm_portable STATIC ${KELM_PORTABLE_SOURCES})
    target_include_directories(kelm_portable PUBLIC ${CMAKE_SOURCE_DIR}/src ${CMAKE_SOURCE_DIR})
endif()

if(NOT TARGET sim_board)
    add_library(sim_board STATIC ${KELM_SIM_SOURCES})
    target_include_directories(sim_board PUBLIC ${CMAKE_SOURCE_DIR})
    target_link_libraries(sim_board PUBLIC Threads::Threads)
endif()
