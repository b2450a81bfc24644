# Version resource and application manifest of a shipped binary.
#
#   kv_version_resource(<target> DESCRIPTION <text> [MANIFEST])
#
# adds a VERSIONINFO resource (versions from the project version, names from
# the target's output file) and, with MANIFEST, kvfetch.manifest as the
# program's manifest: asInvoker, which also keeps Windows' installer
# detection off, and the supportedOS entries from Vista to Windows 10/11, so
# that GetVersionExW reports the real version on 8.1 and later. (XP SP3 reads
# the asm.v3 trustInfo; XP SP2 without its update did not.)

enable_language(RC)

set(KVFETCH_COMPANY_NAME "" CACHE STRING "CompanyName of the version resources")
set(KVFETCH_LEGAL_COPYRIGHT "" CACHE STRING "LegalCopyright of the version resources")

# Resource scripts quote a double quote by doubling it.
function(_kv_rc_quote out text)
  string(REPLACE "\"" "\"\"" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

function(kv_version_resource target)
  cmake_parse_arguments(ARG "MANIFEST" "DESCRIPTION" "" ${ARGN})
  get_target_property(type ${target} TYPE)
  get_target_property(name ${target} OUTPUT_NAME)
  if(NOT name)
    set(name ${target})
  endif()
  if(type STREQUAL "EXECUTABLE")
    set(KV_RC_FILE_TYPE VFT_APP)
    set(KV_RC_FILE_NAME ${name}.exe)
  else()
    set(KV_RC_FILE_TYPE VFT_DLL)
    set(KV_RC_FILE_NAME ${name}.dll)
  endif()
  set(KV_RC_INTERNAL_NAME ${name})
  set(KV_RC_VERSION_NUMBERS
      "${PROJECT_VERSION_MAJOR},${PROJECT_VERSION_MINOR},${PROJECT_VERSION_PATCH},0")
  _kv_rc_quote(KV_RC_DESCRIPTION "${ARG_DESCRIPTION}")
  _kv_rc_quote(KV_RC_COMPANY "${KVFETCH_COMPANY_NAME}")
  _kv_rc_quote(KV_RC_COPYRIGHT "${KVFETCH_LEGAL_COPYRIGHT}")
  set(KV_RC_MANIFEST "")
  if(ARG_MANIFEST)
    # 1 = CREATEPROCESS_MANIFEST_RESOURCE_ID, 24 = RT_MANIFEST.
    set(KV_RC_MANIFEST "1 24 \"${PROJECT_SOURCE_DIR}/cmake/kvfetch.manifest\"")
  endif()
  set(rc ${CMAKE_BINARY_DIR}/resources/${target}.rc)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/version.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
  if(ARG_MANIFEST)
    set_property(SOURCE ${rc} APPEND PROPERTY OBJECT_DEPENDS
                 ${PROJECT_SOURCE_DIR}/cmake/kvfetch.manifest)
  endif()
endfunction()
