# What makes a built binary a shipped one. Included before the targets.
#
#   kv_shipped_binary(<target> DESTINATION <dir> DESCRIPTION <text> [PROGRAM])
#
# - links the XP import shim (src/compat/tick_count64.cpp);
# - adds the version resource, and for a PROGRAM the manifest;
# - links with --gc-sections: what nothing in the binary reaches is left out;
# - marks the image NO_SEH after checking that its code registers no SEH
#   handler (kv_no_seh, cmake/hardened_image.cmake);
# - splits the debug information and the symbol table off after each link:
#   the binary keeps a .gnu_debuglink to symbols/<file>.debug;
# - lists the target for the release tree (cmake/release_tree.cmake), at
#   <dir> in it, Authenticode-signed if it is a PROGRAM.

include(${CMAKE_CURRENT_LIST_DIR}/version_resource.cmake)

# Every function and every variable in a section of its own, so that a
# shipped binary's link can drop the ones it never reaches: our code, and
# jsoncpp, whose folder was added before this file was read. The static C++
# runtime is mostly built that way already.
set(KV_SECTION_PER_SYMBOL "$<$<COMPILE_LANGUAGE:C,CXX>:-ffunction-sections;-fdata-sections>")
add_compile_options("${KV_SECTION_PER_SYMBOL}")
target_compile_options(jsoncpp_static PRIVATE "${KV_SECTION_PER_SYMBOL}")

set(KVFETCH_SIGNING_CERT "" CACHE FILEPATH
    "PEM certificate chain that signs the shipped programs (default: the build's test signer)")
set(KVFETCH_SIGNING_KEY "" CACHE FILEPATH "PEM private key for KVFETCH_SIGNING_CERT")
set(KVFETCH_TIMESTAMP_URL "" CACHE STRING
    "RFC 3161 timestamp server for the program signatures (empty: no timestamp)")


set(KV_RELEASE_NAME kvfetch-${PROJECT_VERSION}-win32)
set(KV_RELEASE_ROOT ${CMAKE_BINARY_DIR}/release)
set(KV_RELEASE_DIR ${KV_RELEASE_ROOT}/${KV_RELEASE_NAME})
set(KV_RELEASE_SYMBOLS_DIR ${KV_RELEASE_ROOT}/${KV_RELEASE_NAME}-symbols)

set(KV_SYMBOLS_DIR ${CMAKE_BINARY_DIR}/symbols)

# The built file's name, from the properties set so far (custom commands
# cannot name their outputs through generator expressions).
function(_kv_shipped_file_name out target)
  get_target_property(name ${target} OUTPUT_NAME)
  if(NOT name)
    set(name ${target})
  endif()
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "EXECUTABLE")
    set(${out} ${name}.exe PARENT_SCOPE)
  else()
    set(${out} ${name}.dll PARENT_SCOPE)
  endif()
endfunction()

# Call after the target's OUTPUT_NAME is set.
function(kv_shipped_binary target)
  cmake_parse_arguments(ARG "PROGRAM" "DESTINATION;DESCRIPTION" "" ${ARGN})
  if(NOT ARG_DESTINATION OR NOT ARG_DESCRIPTION)
    message(FATAL_ERROR "kv_shipped_binary(${target}): DESTINATION and DESCRIPTION are required")
  endif()
  target_link_libraries(${target} PRIVATE kv_xp_compat)
  target_link_options(${target} PRIVATE -Wl,--gc-sections)
  kv_no_seh(${target})
  if(ARG_PROGRAM)
    kv_version_resource(${target} DESCRIPTION "${ARG_DESCRIPTION}" MANIFEST)
  else()
    kv_version_resource(${target} DESCRIPTION "${ARG_DESCRIPTION}")
  endif()
  _kv_shipped_file_name(file ${target})
  # objcopy records only the debug file's name and checksum in the link, so
  # the binary does not depend on where the build tree was. It would stamp
  # the PE header with the time of the copy; SOURCE_DATE_EPOCH makes that
  # the commit time.
  set(debug ${KV_SYMBOLS_DIR}/${file}.debug)
  set(objcopy ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${KV_SOURCE_DATE_EPOCH} ${CMAKE_OBJCOPY})
  add_custom_command(TARGET ${target} POST_BUILD
    BYPRODUCTS ${debug}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${KV_SYMBOLS_DIR}
    COMMAND ${objcopy} --only-keep-debug $<TARGET_FILE:${target}> ${debug}
    COMMAND ${objcopy} --strip-all --add-gnu-debuglink=${debug} $<TARGET_FILE:${target}>
    VERBATIM)
  set_property(GLOBAL APPEND PROPERTY KV_SHIPPED_TARGETS ${target})
  set_property(TARGET ${target} PROPERTY KV_SHIPPED_FILE ${file})
  set_property(TARGET ${target} PROPERTY KV_SHIPPED_DESTINATION ${ARG_DESTINATION})
  set_property(TARGET ${target} PROPERTY KV_SHIPPED_SIGNED ${ARG_PROGRAM})
endfunction()
