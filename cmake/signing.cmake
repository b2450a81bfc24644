# Authenticode signing of test DLLs at build time.
#
# A throw-away root CA and one code-signing leaf per signer id are generated
# with the openssl CLI under ${CMAKE_BINARY_DIR}/signing/ the first time a
# signed DLL is built. Nothing here is ever committed, and nothing touches the
# network: osslsigncode signs without a timestamp.
#
#   kv_signed_dll(<new target> INPUT <dll target> [INPUT_FILE <dll>] SIGNER <id> OUTPUT <abs path>)
#
# makes custom target <new target> (part of ALL) that writes a signed copy of
# <dll target>'s file to OUTPUT, creating its directory. Callable from any
# CMakeLists.txt. A test that needs the file should also
# add_dependencies(<test> <new target>) so that building only the test is
# enough.
#
# Signer ids (subject CN of the leaf certificate):
#   trusted   the first name of the trusted publisher list
#   trusted2  the second name of the list
#   unlisted  "Greywater Signal Systems Ltd.", a plausible name not in the list
#   case      the first name in upper case
#   space     the first name followed by one space
#   expired   the first name; the leaf was valid in 2020 only
#
# Every leaf chains to the same generated root, which no machine trusts.
# Windows reports a good signature as CERT_E_UNTRUSTEDROOT (the publisher
# check accepts that on purpose); Wine 8 flags the root as untrusted (and the
# expired leaf as out of date) in the chain but returns ERROR_SUCCESS.

find_program(KV_OPENSSL openssl REQUIRED)
find_program(KV_OSSLSIGNCODE osslsigncode REQUIRED)

set(KV_SIGNING_DIR ${CMAKE_BINARY_DIR}/signing)
set(KV_SIGNING_CONFIG_DIR ${CMAKE_BINARY_DIR}/CMakeFiles/kv_signing)

# The program's list is the one source of the names: its first two entries
# name the test signers, so those can never drift from it. The list is one
# KV_TRUSTED_PUBLISHER(L"...") per line; a change to it reconfigures.
set(_kv_publisher_list ${PROJECT_SOURCE_DIR}/src/trust/trusted_publishers.inc)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${_kv_publisher_list})
file(STRINGS ${_kv_publisher_list} _kv_name_lines REGEX "^KV_TRUSTED_PUBLISHER\\(")
list(LENGTH _kv_name_lines _kv_name_count)
if(_kv_name_count LESS 2)
  message(FATAL_ERROR "signing.cmake: no trusted publisher names in ${_kv_publisher_list}")
endif()
# CMake reads no C++ escapes: a name written with one (\u00fc) would be
# other text here than in the program. Semicolons would split the list.
set(_kv_plain_entry "^KV_TRUSTED_PUBLISHER\\(L\"([^\"\\\\;]+)\"\\)$")
foreach(_kv_index 0 1)
  list(GET _kv_name_lines ${_kv_index} _kv_line)
  if(NOT _kv_line MATCHES "${_kv_plain_entry}")
    message(FATAL_ERROR "signing.cmake: a test signer's name must be written without "
                        "escapes or semicolons: ${_kv_line}")
  endif()
  math(EXPR _kv_number "${_kv_index} + 1")
  set(KV_TRUSTED_NAME_${_kv_number} "${CMAKE_MATCH_1}")
endforeach()
string(TOUPPER "${KV_TRUSTED_NAME_1}" _kv_first_upper)

set(KV_SIGNER_IDS trusted trusted2 unlisted case space expired)
set(KV_SIGNER_CN_trusted "${KV_TRUSTED_NAME_1}")
set(KV_SIGNER_CN_trusted2 "${KV_TRUSTED_NAME_2}")
set(KV_SIGNER_CN_unlisted "Greywater Signal Systems Ltd.")
set(KV_SIGNER_CN_case "${_kv_first_upper}")
set(KV_SIGNER_CN_space "${KV_TRUSTED_NAME_1} ")
set(KV_SIGNER_CN_expired "${KV_TRUSTED_NAME_1}")

# openssl's default configuration would make every certificate from
# "req -x509" a CA; these minimal ones say exactly what each certificate is.
# Names are UTF-8 strings, as Windows reads them back.
set(_kv_utf8_names "utf8 = yes\nstring_mask = utf8only\n")
# A code-signing end certificate: what every test signer is.
set(_kv_leaf_extensions "\
[leaf]
basicConstraints = CA:FALSE
keyUsage = critical, digitalSignature
extendedKeyUsage = codeSigning
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
")
file(MAKE_DIRECTORY ${KV_SIGNING_CONFIG_DIR})
file(WRITE ${KV_SIGNING_CONFIG_DIR}/req.cnf "\
[req]
distinguished_name = dn
prompt = no
${_kv_utf8_names}\
[dn]
CN = unused
[root]
basicConstraints = critical, CA:TRUE
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
${_kv_leaf_extensions}")
# Only "openssl ca" can issue a certificate whose validity lies in the past.
file(WRITE ${KV_SIGNING_CONFIG_DIR}/ca.cnf "\
[ca]
default_ca = kv_ca
[kv_ca]
dir = ${KV_SIGNING_DIR}/ca-db
database = \$dir/index.txt
serial = \$dir/serial
new_certs_dir = \$dir
certificate = ${KV_SIGNING_DIR}/root.pem
private_key = ${KV_SIGNING_DIR}/root.key
default_md = sha256
policy = kv_policy
unique_subject = no
copy_extensions = none
x509_extensions = leaf
${_kv_utf8_names}\
[kv_policy]
commonName = supplied
${_kv_leaf_extensions}")

# The signing time, pinned to the commit time when the build is reproducible.
set(KV_SIGNING_TIME "")
if(KV_SOURCE_DATE_EPOCH)
  set(KV_SIGNING_TIME -time ${KV_SOURCE_DATE_EPOCH})
endif()

# A second build that must give the same signed files takes the first one's
# keys (scripts/reproduce): nothing is generated then.
set(KVFETCH_TEST_KEYS_FROM "" CACHE PATH
    "signing/ folder of another build tree whose test keys to use instead of new ones")

set(_kv_root_outputs ${KV_SIGNING_DIR}/root.pem ${KV_SIGNING_DIR}/root.key)
if(KVFETCH_TEST_KEYS_FROM)
  file(COPY ${KVFETCH_TEST_KEYS_FROM}/ DESTINATION ${KV_SIGNING_DIR})
  add_custom_target(kv_signing_certs)
else()
add_custom_command(
  OUTPUT ${_kv_root_outputs}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${KV_SIGNING_DIR}
  COMMAND ${KV_OPENSSL} genpkey -quiet -algorithm RSA -pkeyopt rsa_keygen_bits:2048
          -out ${KV_SIGNING_DIR}/root.key
  COMMAND ${KV_OPENSSL} req -x509 -config ${KV_SIGNING_CONFIG_DIR}/req.cnf
          -key ${KV_SIGNING_DIR}/root.key -sha256 -days 3650 -set_serial 1
          -subj "/CN=kvfetch Test Root CA" -extensions root
          -out ${KV_SIGNING_DIR}/root.pem
  COMMENT "Generating the test root CA for Authenticode signing"
  VERBATIM)

set(_kv_signing_outputs ${_kv_root_outputs})
set(_kv_serial 16)
foreach(_kv_id IN LISTS KV_SIGNER_IDS)
  set(_kv_base ${KV_SIGNING_DIR}/${_kv_id})
  set(_kv_cn "${KV_SIGNER_CN_${_kv_id}}")
  math(EXPR _kv_serial "${_kv_serial} + 1")
  add_custom_command(
    OUTPUT ${_kv_base}.key ${_kv_base}.csr
    COMMAND ${KV_OPENSSL} genpkey -quiet -algorithm RSA -pkeyopt rsa_keygen_bits:2048
            -out ${_kv_base}.key
    COMMAND ${KV_OPENSSL} req -new -config ${KV_SIGNING_CONFIG_DIR}/req.cnf
            -key ${_kv_base}.key -subj "/CN=${_kv_cn}" -out ${_kv_base}.csr
    DEPENDS ${_kv_root_outputs}
    COMMENT "Generating the signing key of '${_kv_id}'"
    VERBATIM)
  if(_kv_id STREQUAL "expired")
    set(_kv_issue
      COMMAND ${CMAKE_COMMAND} -E make_directory ${KV_SIGNING_DIR}/ca-db
      COMMAND ${CMAKE_COMMAND} -E touch ${KV_SIGNING_DIR}/ca-db/index.txt
      COMMAND ${KV_OPENSSL} ca -batch -notext -config ${KV_SIGNING_CONFIG_DIR}/ca.cnf
              -rand_serial -startdate 20200101000000Z -enddate 20201231235959Z
              -in ${_kv_base}.csr -out ${_kv_base}.crt)
    set(_kv_what "the already expired certificate")
  else()
    set(_kv_issue
      COMMAND ${KV_OPENSSL} x509 -req -sha256 -days 3650 -set_serial ${_kv_serial}
              -CA ${KV_SIGNING_DIR}/root.pem -CAkey ${KV_SIGNING_DIR}/root.key
              -extfile ${KV_SIGNING_CONFIG_DIR}/req.cnf -extensions leaf
              -in ${_kv_base}.csr -out ${_kv_base}.crt)
    set(_kv_what "the certificate")
  endif()
  add_custom_command(
    OUTPUT ${_kv_base}.crt
    ${_kv_issue}
    DEPENDS ${_kv_base}.csr ${_kv_root_outputs}
    COMMENT "Issuing ${_kv_what} of '${_kv_id}'"
    VERBATIM)
  # The signature carries the whole chain so the verifier can reach the root.
  add_custom_command(
    OUTPUT ${_kv_base}.pem
    COMMAND ${CMAKE_COMMAND} -E cat ${_kv_base}.crt ${KV_SIGNING_DIR}/root.pem > ${_kv_base}.pem
    DEPENDS ${_kv_base}.crt ${_kv_root_outputs}
    VERBATIM)
  list(APPEND _kv_signing_outputs ${_kv_base}.key ${_kv_base}.pem)
endforeach()
add_custom_target(kv_signing_certs DEPENDS ${_kv_signing_outputs})
endif()

function(kv_signed_dll name)
  cmake_parse_arguments(ARG "" "INPUT;INPUT_FILE;SIGNER;OUTPUT" "" ${ARGN})
  if(NOT ARG_INPUT OR NOT ARG_SIGNER OR NOT ARG_OUTPUT)
    message(FATAL_ERROR "kv_signed_dll(${name}): INPUT, SIGNER and OUTPUT are required")
  endif()
  if(NOT ARG_SIGNER IN_LIST KV_SIGNER_IDS)
    message(FATAL_ERROR "kv_signed_dll(${name}): unknown signer '${ARG_SIGNER}' "
                        "(known: ${KV_SIGNER_IDS})")
  endif()
  if(NOT IS_ABSOLUTE "${ARG_OUTPUT}")
    message(FATAL_ERROR "kv_signed_dll(${name}): OUTPUT must be an absolute path")
  endif()
  # INPUT_FILE: the DLL a custom target (INPUT) makes, where TARGET_FILE
  # does not apply.
  if(ARG_INPUT_FILE)
    set(input ${ARG_INPUT_FILE})
  else()
    set(input $<TARGET_FILE:${ARG_INPUT}>)
  endif()
  set(key ${KV_SIGNING_DIR}/${ARG_SIGNER}.key)
  set(certs ${KV_SIGNING_DIR}/${ARG_SIGNER}.pem)
  get_filename_component(outDir "${ARG_OUTPUT}" DIRECTORY)
  # osslsigncode refuses to overwrite its output, so a rebuild removes it first.
  add_custom_command(
    OUTPUT ${ARG_OUTPUT}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${outDir}
    COMMAND ${CMAKE_COMMAND} -E rm -f ${ARG_OUTPUT}
    COMMAND ${KV_OSSLSIGNCODE} sign -certs ${certs} -key ${key} -h sha256
            ${KV_SIGNING_TIME} -in ${input} -out ${ARG_OUTPUT}
    DEPENDS ${ARG_INPUT} ${input} ${key} ${certs}
    COMMENT "Signing ${ARG_INPUT} as '${ARG_SIGNER}' into ${ARG_OUTPUT}"
    VERBATIM)
  add_custom_target(${name} ALL DEPENDS ${ARG_OUTPUT})
  add_dependencies(${name} kv_signing_certs ${ARG_INPUT})
endfunction()
