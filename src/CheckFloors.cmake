# Fails when a floor includes a header of a floor it does not link.
#
#   cmake -DFLOORS_FILE=<floors.cmake> -DSOURCE_DIR=<src> -P CheckFloors.cmake
#
# FLOORS_FILE lists the floors (FLOORS) and for each one its folders
# (FLOOR_DIRS_<floor>), the folders it may include from (FLOOR_ALLOWED_<floor>:
# its own and those of every floor below it) and single headers it may include
# besides (FLOOR_CONTRACTS_<floor>). Every "#include "a/b/c.h"" of a .h or
# .cpp file in a floor's folders that names a file under SOURCE_DIR must lie
# in an allowed folder or be a contract; includes of other files (system and
# third-party headers, files beside the includer) are not the floors' concern.
cmake_minimum_required(VERSION 3.25)
if(NOT FLOORS_FILE OR NOT SOURCE_DIR)
  message(FATAL_ERROR "CheckFloors.cmake needs -DFLOORS_FILE=... and -DSOURCE_DIR=...")
endif()
get_filename_component(SOURCE_DIR ${SOURCE_DIR} ABSOLUTE)
include(${FLOORS_FILE})

set(violations)
set(checked 0)
foreach(floor ${FLOORS})
  foreach(dir ${FLOOR_DIRS_${floor}})
    file(GLOB files ${SOURCE_DIR}/${dir}/*.h ${SOURCE_DIR}/${dir}/*.cpp)
    foreach(file ${files})
      math(EXPR checked "${checked} + 1")
      file(STRINGS ${file} lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"[^\"]+\"")
      file(RELATIVE_PATH includer ${SOURCE_DIR} ${file})
      foreach(line ${lines})
        string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]+)\".*$" "\\1" header "${line}")
        if(NOT EXISTS ${SOURCE_DIR}/${header})
          continue()
        endif()
        set(ok FALSE)
        if(header IN_LIST FLOOR_CONTRACTS_${floor})
          set(ok TRUE)
        endif()
        foreach(allowed ${FLOOR_ALLOWED_${floor}})
          string(FIND "${header}" "${allowed}/" at)
          if(NOT at EQUAL 0)
            continue()
          endif()
          # In the folder itself, not in one below it.
          string(LENGTH "${allowed}/" length)
          string(SUBSTRING "${header}" ${length} -1 rest)
          if(NOT rest MATCHES "/")
            set(ok TRUE)
            break()
          endif()
        endforeach()
        if(NOT ok)
          list(JOIN FLOOR_ALLOWED_${floor} ", " may)
          list(APPEND violations
               "${includer} includes ${header}, which is not on a floor that ${floor} links (it may include from: ${may})")
        endif()
      endforeach()
    endforeach()
  endforeach()
endforeach()

if(violations)
  list(LENGTH violations count)
  list(JOIN violations "\n  " text)
  message(FATAL_ERROR "${count} include(s) reach above their floor:\n  ${text}")
endif()
message(STATUS "floors: ${checked} files, every include on its own floor or below")
