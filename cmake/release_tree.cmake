# The release tree, the two ZIPs and the install rules. Included after the
# targets, from packaging.cmake.
#
#   release/kvfetch-<version>-win32/          what `cmake --install` lays out
#     Wirelink.dll  STANDINS.txt  SHA256SUMS
#     app/bin/kvfetch.exe  app/bin/kvfetch-doctor.exe  app/bin/QXSDK2.dll
#     tools/kvseal.exe
#   release/kvfetch-<version>-win32-symbols/  the .debug files at the same places
#   release/kvfetch-<version>-win32.zip, release/kvfetch-<version>-win32-symbols.zip
#
# `cmake --build <tree> --target kv_release` makes all of it. The programs
# are signed with the build's test certificate unless KVFETCH_SIGNING_CERT and
# KVFETCH_SIGNING_KEY name the packager's; the signing time is the commit
# time, so that signed files are reproducible too.

if(KVFETCH_SIGNING_CERT OR KVFETCH_SIGNING_KEY)
  if(NOT EXISTS "${KVFETCH_SIGNING_CERT}" OR NOT EXISTS "${KVFETCH_SIGNING_KEY}")
    message(FATAL_ERROR "KVFETCH_SIGNING_CERT and KVFETCH_SIGNING_KEY must both name files")
  endif()
  set(KV_RELEASE_CERT ${KVFETCH_SIGNING_CERT})
  set(KV_RELEASE_KEY ${KVFETCH_SIGNING_KEY})
  set(KV_RELEASE_CERT_TARGET "")
else()
  set(KV_RELEASE_CERT ${KV_SIGNING_DIR}/trusted.pem)
  set(KV_RELEASE_KEY ${KV_SIGNING_DIR}/trusted.key)
  set(KV_RELEASE_CERT_TARGET kv_signing_certs)
endif()
set(KV_RELEASE_TIMESTAMP "")
if(KVFETCH_TIMESTAMP_URL)
  set(KV_RELEASE_TIMESTAMP -ts ${KVFETCH_TIMESTAMP_URL})
endif()

# Copies (or signs) one built file into the tree; appends the output to
# `outputs` in the caller.
function(_kv_release_file outputs input output sign)
  get_filename_component(dir ${output} DIRECTORY)
  if(sign)
    add_custom_command(
      OUTPUT ${output}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}
      COMMAND ${CMAKE_COMMAND} -E rm -f ${output}
      COMMAND ${KV_OSSLSIGNCODE} sign -certs ${KV_RELEASE_CERT} -key ${KV_RELEASE_KEY}
              -h sha256 -time ${KV_SOURCE_DATE_EPOCH} ${KV_RELEASE_TIMESTAMP}
              -in ${input} -out ${output}
      DEPENDS ${input} ${KV_RELEASE_CERT} ${KV_RELEASE_KEY}
      COMMENT "Signing ${output}"
      VERBATIM)
  else()
    add_custom_command(
      OUTPUT ${output}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}
      COMMAND ${CMAKE_COMMAND} -E copy ${input} ${output}
      DEPENDS ${input}
      VERBATIM)
  endif()
  set(${outputs} ${${outputs}} ${output} PARENT_SCOPE)
endfunction()

set(_kv_tree_files)
set(_kv_symbol_files)
get_property(_kv_shipped GLOBAL PROPERTY KV_SHIPPED_TARGETS)
foreach(_kv_target IN LISTS _kv_shipped)
  get_target_property(_kv_dest ${_kv_target} KV_SHIPPED_DESTINATION)
  get_target_property(_kv_sign ${_kv_target} KV_SHIPPED_SIGNED)
  get_target_property(_kv_file ${_kv_target} KV_SHIPPED_FILE)
  # The stand-in network library ships as signed by the test signer, like
  # the staged tree.
  if(_kv_target STREQUAL "kv_wirelink")
    set(_kv_input ${KV_WIRELINK_SIGNED})
  else()
    set(_kv_input $<TARGET_FILE:${_kv_target}>)
  endif()
  _kv_release_file(_kv_tree_files ${_kv_input} ${KV_RELEASE_DIR}/${_kv_dest}/${_kv_file} ${_kv_sign})
  _kv_release_file(_kv_symbol_files ${KV_SYMBOLS_DIR}/${_kv_file}.debug
                   ${KV_RELEASE_SYMBOLS_DIR}/${_kv_dest}/${_kv_file}.debug FALSE)
endforeach()
_kv_release_file(_kv_tree_files ${CMAKE_CURRENT_LIST_DIR}/STANDINS.txt
                 ${KV_RELEASE_DIR}/STANDINS.txt FALSE)

set(_kv_zip ${KV_RELEASE_ROOT}/${KV_RELEASE_NAME}.zip)
set(_kv_symbols_zip ${KV_RELEASE_ROOT}/${KV_RELEASE_NAME}-symbols.zip)
set(_kv_zip_script ${CMAKE_CURRENT_LIST_DIR}/release_zip.py)
foreach(_kv_pair IN ITEMS "${KV_RELEASE_DIR}|${_kv_zip}|_kv_tree_files"
                          "${KV_RELEASE_SYMBOLS_DIR}|${_kv_symbols_zip}|_kv_symbol_files")
  string(REPLACE "|" ";" _kv_pair "${_kv_pair}")
  list(GET _kv_pair 0 _kv_dir)
  list(GET _kv_pair 1 _kv_out)
  list(GET _kv_pair 2 _kv_files)
  add_custom_command(
    OUTPUT ${_kv_out} ${_kv_dir}/SHA256SUMS
    COMMAND ${KV_PYTHON} ${_kv_zip_script} ${_kv_dir} ${_kv_out} ${KV_SOURCE_DATE_EPOCH}
    DEPENDS ${${_kv_files}} ${_kv_zip_script}
    COMMENT "Packing ${_kv_out}"
    VERBATIM)
endforeach()

add_custom_target(kv_release ALL DEPENDS ${_kv_zip} ${_kv_symbols_zip})
add_dependencies(kv_release ${_kv_shipped} kv_wirelink_signed)
if(KV_RELEASE_CERT_TARGET)
  add_dependencies(kv_release ${KV_RELEASE_CERT_TARGET})
endif()

# The install tree is the release tree: same files, same signatures.
install(DIRECTORY ${KV_RELEASE_DIR}/ DESTINATION . USE_SOURCE_PERMISSIONS)
