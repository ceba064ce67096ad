# cmake -DSOURCE_DIR=<repo> -P CheckLayers.cmake
#
# The subsystem folders may include only from the folders below them:
#
#   base/                            includes nothing of the program
#   viewer/ watch/ update/ about/    base/
#   browse/                          base/, viewer/ (thumbnails use the render service)
#   app/                             everything (it composes the window)
#
# Fails, naming each file and line, when a source reaches sideways or up.
cmake_minimum_required(VERSION 3.21)

set(program_folders app base browse viewer watch update about)
set(allowed_base base)
set(allowed_viewer base viewer)
set(allowed_watch base watch)
set(allowed_update base update)
set(allowed_about base about)
set(allowed_browse base viewer browse)

set(violations "")
foreach(folder base viewer watch update about browse)
    file(GLOB_RECURSE sources
        "${SOURCE_DIR}/${folder}/*.h" "${SOURCE_DIR}/${folder}/*.cpp" "${SOURCE_DIR}/${folder}/*.in")
    foreach(source IN LISTS sources)
        file(STRINGS "${source}" includes REGEX "^[ \t]*#[ \t]*include[ \t]*\"[a-z]+/")
        foreach(line IN LISTS includes)
            string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([a-z]+)/.*" "\\1" target "${line}")
            if(target IN_LIST program_folders AND NOT target IN_LIST allowed_${folder})
                file(RELATIVE_PATH shown "${SOURCE_DIR}" "${source}")
                string(APPEND violations "  ${shown}: ${line}\n")
            endif()
        endforeach()
    endforeach()
endforeach()

if(violations)
    message(FATAL_ERROR "Includes against the folder order:\n${violations}")
endif()
message(STATUS "Folder order kept")
