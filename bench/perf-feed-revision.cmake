# Writes the source tree's short commit hash into OUTPUT as PERF_FEED_REVISION, touching the file
# only when the hash changed. Run at every build, so the figure names the code it measured.
execute_process(COMMAND git rev-parse --short HEAD
                WORKING_DIRECTORY "${SOURCE_DIR}"
                OUTPUT_VARIABLE revision
                OUTPUT_STRIP_TRAILING_WHITESPACE
                ERROR_QUIET
                RESULT_VARIABLE status)
if(NOT status EQUAL 0 OR revision STREQUAL "")
    set(revision "unknown")
endif()
file(WRITE "${OUTPUT}.tmp" "#pragma once\n#define PERF_FEED_REVISION \"${revision}\"\n")
configure_file("${OUTPUT}.tmp" "${OUTPUT}" COPYONLY)
