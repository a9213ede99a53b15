# Fails when a file of the parser reaches, through its includes, a file of the terminal or of
# the screen: the core's includes point one way (values, row, ring, screen, parser, terminal,
# view), and the parser must build and be tested without the layers that use it.
#   cmake -DSOURCE_DIR=<src/Veldatron> -P CheckParserIncludes.cmake
cmake_minimum_required(VERSION 3.25)

if(NOT SOURCE_DIR)
    message(FATAL_ERROR "SOURCE_DIR is not set")
endif()

file(GLOB parser_files RELATIVE "${SOURCE_DIR}"
     "${SOURCE_DIR}/EscapeSequenceParser*" "${SOURCE_DIR}/Parser*.h"
     "${SOURCE_DIR}/SequenceId.h" "${SOURCE_DIR}/DcsHandler.h")
if(NOT parser_files)
    message(FATAL_ERROR "no parser files found in ${SOURCE_DIR}")
endif()
# The terminal's and the screen's families, and the view above them.
set(forbidden "^(Terminal|Buffer|CircularBufferLineList|HeadlessTerminal|SixelDcsHandler|Kitty|View/)")

set(failed FALSE)
foreach(start ${parser_files})
    # Breadth-first over the project headers each file includes.
    set(queue ${start})
    set(seen ${start})
    set(via_${start} "")
    while(queue)
        list(POP_FRONT queue file)
        file(STRINGS "${SOURCE_DIR}/${file}" lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
        foreach(line ${lines})
            string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]+)\".*" "\\1" included "${line}")
            if(included IN_LIST seen)
                continue()
            endif()
            list(APPEND seen ${included})
            set(via_${included} "${via_${file}} ${file} ->")
            if(included MATCHES "${forbidden}")
                message(SEND_ERROR "${via_${included}} ${included}: the parser includes the "
                                   "terminal or the screen")
                set(failed TRUE)
            elseif(EXISTS "${SOURCE_DIR}/${included}")
                list(APPEND queue ${included})
            endif()
        endforeach()
    endwhile()
endforeach()
if(NOT failed)
    list(LENGTH parser_files count)
    message(STATUS "${count} parser files include nothing of the terminal or the screen")
endif()
