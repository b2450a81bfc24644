# Reproducible Windows binaries: the same commit built in any folder at any
# time gives the same bytes.
#
# KV_SOURCE_DATE_EPOCH is the one time a build may record (signing time, ZIP
# entry times): SOURCE_DATE_EPOCH from the environment when set (an exported
# tree has no history), else the commit time of HEAD.

if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(KV_SOURCE_DATE_EPOCH $ENV{SOURCE_DATE_EPOCH})
else()
  find_package(Git QUIET)
  if(GIT_FOUND)
    execute_process(
      COMMAND ${GIT_EXECUTABLE} log -1 --format=%ct
      WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
      OUTPUT_VARIABLE KV_SOURCE_DATE_EPOCH
      OUTPUT_STRIP_TRAILING_WHITESPACE
      ERROR_QUIET)
  endif()
endif()
if(NOT KV_SOURCE_DATE_EPOCH MATCHES "^[0-9]+$")
  message(FATAL_ERROR "reproducible.cmake: no commit time; set SOURCE_DATE_EPOCH")
endif()

# Source and build paths leave debug information and assertion texts: one
# folder name for each, wherever the checkout and the build tree are.
add_compile_options(
  -ffile-prefix-map=${PROJECT_SOURCE_DIR}=/kvfetch
  -ffile-prefix-map=${CMAKE_BINARY_DIR}=/kvfetch-build)
if(KVFETCH_JSONCPP_SOURCE)
  add_compile_options(-ffile-prefix-map=${KVFETCH_JSONCPP_SOURCE}=/jsoncpp)
endif()

# The PE header's TimeDateStamp would hold the link time.
add_link_options(-Wl,--no-insert-timestamp)
