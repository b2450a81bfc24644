# Fails when a C++ source outside the tests and the stand-ins spells one of
# the network library's export names in a string literal: the names are
# written once, in src/net/net_exports.h's table, which stringizes them. They
# are read from the stand-in's .def, so this check adds no copy of its own.
#   cmake -DROOT=<source tree> -P export_names_once.cmake
cmake_minimum_required(VERSION 3.25)
file(STRINGS ${ROOT}/standins/network-library/wirelink.def def_lines)
list(FIND def_lines EXPORTS first)
list(SUBLIST def_lines ${first} -1 def_lines)
list(TRANSFORM def_lines STRIP)
list(FILTER def_lines INCLUDE REGEX "^[A-Za-z_][A-Za-z0-9_]*$")
list(REMOVE_ITEM def_lines EXPORTS)
list(JOIN def_lines "|" names)
if(names STREQUAL "")
  message(FATAL_ERROR "no export names in wirelink.def")
endif()

file(GLOB_RECURSE sources LIST_DIRECTORIES false
     ${ROOT}/src/* ${ROOT}/tools/* ${ROOT}/support/* ${ROOT}/bench/*)
list(FILTER sources INCLUDE REGEX "\\.(c|cpp|h|inc)$")
set(found "")
foreach(source IN LISTS sources)
  file(STRINGS ${source} hits
       REGEX "\"([^\"]*[^A-Za-z0-9_\"])?(${names})([^A-Za-z0-9_\"][^\"]*)?\"")
  if(hits)
    string(APPEND found "\n  ${source}")
  endif()
endforeach()
if(found)
  message(FATAL_ERROR "export names in string literals outside src/net/net_exports.h:${found}")
endif()
