# Sources of a library or test folder, found by pattern so that parallel work on one library
# does not collide in a hand-kept list. CONFIGURE_DEPENDS re-runs the glob on each build.
function(cavrel_sources out dir)
    file(GLOB found CONFIGURE_DEPENDS "${dir}/*.cpp" "${dir}/*.h" "${dir}/*.c")
    set(${out} ${found} PARENT_SCOPE)
endfunction()

# A GoogleTest executable registered with CTest. Tests are listed when CTest runs, not at
# build time, so sanitizer builds and cross-library changes never run a stale binary. SERIAL:
# its tests run alone, none beside them (tests that type on the shared X server, where another
# test's window could take the keyboard focus).
function(cavrel_add_test_executable name)
    cmake_parse_arguments(arg "SERIAL" "LABEL" "SOURCES;LIBS;ENVIRONMENT" ${ARGN})
    add_executable(${name} ${arg_SOURCES})
    target_link_libraries(${name} PRIVATE ${arg_LIBS} cavrel_warnings)
    set(serial FALSE)
    if(arg_SERIAL)
        set(serial TRUE)
    endif()
    gtest_discover_tests(${name}
        DISCOVERY_MODE PRE_TEST
        DISCOVERY_TIMEOUT 60
        PROPERTIES LABELS "${arg_LABEL}" ENVIRONMENT "${arg_ENVIRONMENT}" RUN_SERIAL ${serial})
endfunction()

# The terminal core must build and test headless: no Qt anywhere in its link line or sources.
function(cavrel_forbid_qt_in_core)
    if(NOT TARGET veldatron)
        return()
    endif()
    get_target_property(libs veldatron LINK_LIBRARIES)
    if(libs)
        foreach(lib IN LISTS libs)
            if(lib MATCHES "Qt")
                message(FATAL_ERROR "the veldatron core library must not link Qt (found ${lib})")
            endif()
        endforeach()
    endif()
    get_target_property(srcs veldatron SOURCES)
    foreach(src IN LISTS srcs)
        file(STRINGS "${src}" qt_includes REGEX "^[ \t]*#[ \t]*include[ \t]*<Q")
        if(qt_includes)
            message(FATAL_ERROR "${src} includes Qt, which the core library must not use")
        endif()
    endforeach()
endfunction()
