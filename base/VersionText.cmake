# Writes the header that holds the version text: the project's version, and the commit the
# sources are at ("-modificado" when tracked files differ from it). Run at every build; the
# header is left as it is when the text has not changed, so nothing is rebuilt for nothing.
# Without git, or outside a checkout of these sources, the version alone.
set(text "${VERSION}")
if(GIT)
    execute_process(COMMAND "${GIT}" -C "${SOURCE_DIR}" rev-parse --show-toplevel --short=7 HEAD
                    OUTPUT_VARIABLE lines RESULT_VARIABLE failed ERROR_QUIET OUTPUT_STRIP_TRAILING_WHITESPACE)
    string(REPLACE "\n" ";" lines "${lines}")
    list(LENGTH lines count)
    if(NOT failed AND count EQUAL 2)
        list(GET lines 0 top)
        list(GET lines 1 commit)
        get_filename_component(top "${top}" REALPATH)
        get_filename_component(source "${SOURCE_DIR}" REALPATH)
        if(top STREQUAL source)
            execute_process(COMMAND "${GIT}" -C "${SOURCE_DIR}" status --porcelain --untracked-files=no
                            OUTPUT_VARIABLE changes ERROR_QUIET)
            if(changes)
                string(APPEND commit "-modificado")
            endif()
            set(text "${VERSION} (commit ${commit})")
        endif()
    endif()
endif()
set(content "#pragma once\n#define Q7_VERSION_TEXT \"${text}\"\n")
set(old "")
if(EXISTS "${OUTPUT}")
    file(READ "${OUTPUT}" old)
endif()
if(NOT old STREQUAL content)
    file(WRITE "${OUTPUT}" "${content}")
endif()
