# Debian's default hardening for the native tools (dpkg-buildflags with
# hardening=+all): PIE, full RELRO, the stack protector and fortified calls.
# Only the hardening words are taken: the flags with hardening=+all less
# those with hardening=-all, so the build type keeps deciding -O and -g.
# Not for the sanitizer presets, whose runtimes replace the fortified calls.

set(KV_NATIVE_HARDENING ON)
include(CheckPIESupported)
check_pie_supported(LANGUAGES C CXX)
set(CMAKE_POSITION_INDEPENDENT_CODE ON)

find_program(KV_DPKG_BUILDFLAGS dpkg-buildflags REQUIRED)

# The words of dpkg-buildflags' VARIABLE that hardening=+all adds.
function(kv_hardening_words out variable)
  foreach(setting IN ITEMS +all -all)
    execute_process(
      COMMAND ${CMAKE_COMMAND} -E env DEB_BUILD_MAINT_OPTIONS=hardening=${setting}
              ${KV_DPKG_BUILDFLAGS} --get ${variable}
      OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
    separate_arguments(words${setting} UNIX_COMMAND "${flags}")
  endforeach()
  list(REMOVE_ITEM words+all ${words-all})
  set(${out} ${words+all} PARENT_SCOPE)
endfunction()

kv_hardening_words(_kv_hardening_cppflags CPPFLAGS)
kv_hardening_words(_kv_hardening_cxxflags CXXFLAGS)
kv_hardening_words(_kv_hardening_ldflags LDFLAGS)
message(STATUS "Native hardening: ${_kv_hardening_cppflags} ${_kv_hardening_cxxflags} "
               "${_kv_hardening_ldflags}")

# _FORTIFY_SOURCE needs an optimised build; glibc warns otherwise.
add_compile_options(
  "$<$<AND:$<COMPILE_LANGUAGE:C,CXX>,$<NOT:$<CONFIG:Debug>>>:${_kv_hardening_cppflags}>"
  "$<$<COMPILE_LANGUAGE:C,CXX>:${_kv_hardening_cxxflags}>")
add_link_options(${_kv_hardening_ldflags})
