# The include-direction check: fails when a file of one folder includes a
# header of a folder at its own level or above (see KESU_LAYERS in the top
# CMakeLists.txt). Run as the test include_direction:
#   cmake -DKESU_SOURCE_DIR=<top> -DKESU_LAYERS=platform=0,sdk=0,... -P CheckIncludes.cmake
# Only includes written from the top of the tree are looked at ("driver/X.h" or
# <driver/X.h>); a folder may always include its own headers.
if(NOT KESU_SOURCE_DIR OR NOT KESU_LAYERS)
  message(FATAL_ERROR "usage: cmake -DKESU_SOURCE_DIR=<top> -DKESU_LAYERS=<folder=level,...> -P ${CMAKE_SCRIPT_MODE_FILE}")
endif()
string(REPLACE "," ";" KESU_LAYERS "${KESU_LAYERS}")

set(folders "")
foreach(entry IN LISTS KESU_LAYERS)
  if(NOT entry MATCHES "^([A-Za-z0-9_]+)=([0-9]+)$")
    message(FATAL_ERROR "bad layer entry '${entry}'")
  endif()
  set(level_${CMAKE_MATCH_1} ${CMAKE_MATCH_2})
  list(APPEND folders ${CMAKE_MATCH_1})
endforeach()

set(checked 0)
set(violations "")
foreach(folder IN LISTS folders)
  file(GLOB_RECURSE files LIST_DIRECTORIES false RELATIVE ${KESU_SOURCE_DIR}
       ${KESU_SOURCE_DIR}/${folder}/*.h ${KESU_SOURCE_DIR}/${folder}/*.hpp
       ${KESU_SOURCE_DIR}/${folder}/*.cpp ${KESU_SOURCE_DIR}/${folder}/*.cc ${KESU_SOURCE_DIR}/${folder}/*.c)
  foreach(file IN LISTS files)
    math(EXPR checked "${checked} + 1")
    file(STRINGS ${KESU_SOURCE_DIR}/${file} lines REGEX "^[ \t]*#[ \t]*include[ \t]*[\"<][A-Za-z0-9_]+/")
    foreach(line IN LISTS lines)
      if(NOT line MATCHES "#[ \t]*include[ \t]*[\"<](([A-Za-z0-9_]+)/[^\">]*)")
        continue()
      endif()
      set(header ${CMAKE_MATCH_1})
      set(target ${CMAKE_MATCH_2})
      if(target STREQUAL folder OR NOT DEFINED level_${target})
        continue()
      endif()
      if(NOT level_${target} LESS level_${folder})
        if(level_${target} EQUAL level_${folder})
          set(why "${target}/ is on the level of ${folder}/ (${level_${folder}})")
        else()
          set(why "${target}/ (level ${level_${target}}) is above ${folder}/ (level ${level_${folder}})")
        endif()
        string(APPEND violations "  ${file} includes ${header}: ${why}\n")
      endif()
    endforeach()
  endforeach()
endforeach()

if(violations)
  message("Includes against the direction of the folders (lower levels may not include higher or sideways):\n"
          "${violations}")
  message(FATAL_ERROR "include direction check failed")
endif()
message(STATUS "include direction: ${checked} files, every include points down")
