# SPDX-License-Identifier: Apache-2.0
# cmake -DFROM=REGISTRY -DTO=FILE -DLIBRARIES=NAME;... -P InstalledRegistry.cmake
# Writes to TO the lines of the registry FROM whose library is one of
# LIBRARIES (file names), each naming its library by file name only. Fails
# when one of LIBRARIES has no class in FROM.
cmake_minimum_required(VERSION 3.25)
file(STRINGS ${FROM} lines)
set(text "")
set(missing ${LIBRARIES})
foreach(line IN LISTS lines)
  string(REPLACE "\t" ";" fields "${line}")
  list(LENGTH fields count)
  if(NOT count EQUAL 3)
    continue()
  endif()
  list(GET fields 0 progid)
  list(GET fields 1 clsid)
  list(GET fields 2 library)
  get_filename_component(name "${library}" NAME)
  if(name IN_LIST LIBRARIES)
    string(APPEND text "${progid}\t${clsid}\t${name}\n")
    list(REMOVE_ITEM missing ${name})
  endif()
endforeach()
if(missing)
  message(FATAL_ERROR "${FROM} registers no class of: ${missing}")
endif()
file(WRITE ${TO}.new "${text}")
file(RENAME ${TO}.new ${TO})
