# The helpers the library folders' CMake files use, shared by the main, fuzz and other builds.

# A library from whatever sources a folder holds; an interface library while it holds none,
# so the layers above can link it from the first day.
function(korvex_library name)
    if(ARGN)
        add_library(${name} STATIC ${ARGN})
        target_include_directories(${name} PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
    else()
        add_library(${name} INTERFACE)
        target_include_directories(${name} INTERFACE ${CMAKE_CURRENT_SOURCE_DIR})
    endif()
endfunction()

# Links a library that may be an interface library (no sources yet).
function(korvex_link name)
    get_target_property(type ${name} TYPE)
    if(type STREQUAL "INTERFACE_LIBRARY")
        target_link_libraries(${name} INTERFACE ${ARGN})
    else()
        target_link_libraries(${name} PUBLIC ${ARGN})
    endif()
endfunction()
