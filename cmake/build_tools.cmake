# The tools every build step runs, each found in one place, and a missing one
# stopping configure with one line that names the Debian package to install
# (scripts/bootstrap installs them all). Read by the toolchain files, so it
# must work before project() too.
include_guard(GLOBAL)

# One LLVM for everything: its major version lives in cmake/llvm-version,
# which scripts/bootstrap reads too. Debian keeps each version's tools
# unsuffixed in its own folder.
file(STRINGS ${CMAKE_CURRENT_LIST_DIR}/llvm-version KV_LLVM_VERSION LIMIT_COUNT 1)
set(KV_LLVM_BIN /usr/lib/llvm-${KV_LLVM_VERSION}/bin)

# kv_require_tool(<path> <Debian package>): configure ends unless <path> runs.
function(kv_require_tool path package)
  if(NOT EXISTS ${path})
    message(FATAL_ERROR "${path} is missing: install Debian's ${package} (scripts/bootstrap does)")
  endif()
endfunction()

# kv_llvm_tool(<variable> <tool> <Debian package>): LLVM's <tool>, required.
function(kv_llvm_tool variable tool package)
  kv_require_tool(${KV_LLVM_BIN}/${tool} ${package})
  set(${variable} ${KV_LLVM_BIN}/${tool} PARENT_SCOPE)
endfunction()

# Debian's own Python, the one interpreter of every build step: python3-pefile
# loads only there, and a python3 earlier on PATH may be another build.
set(KV_PYTHON /usr/bin/python3)
kv_require_tool(${KV_PYTHON} python3)

# kv_require_python_module(<module> <Debian package>): for checks that read
# images with Debian's Python packages.
function(kv_require_python_module module package)
  execute_process(COMMAND ${KV_PYTHON} -c "import ${module}" RESULT_VARIABLE status
                  OUTPUT_QUIET ERROR_QUIET)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${KV_PYTHON} cannot import ${module}: install Debian's ${package} "
                        "(scripts/bootstrap does)")
  endif()
endfunction()
