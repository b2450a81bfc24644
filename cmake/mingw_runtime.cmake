# The build tree's copy of Debian's MinGW libstdc++, with the unwind tables
# of its template and inline functions tied to them, so that lld keeps them
# (cmake/mingw_eh_frame.py says why). The toolchain file puts its folder
# first on the library path.
set(KV_MINGW_RUNTIME_DIR ${CMAKE_BINARY_DIR}/mingw-runtime)
set(_kv_libstdcxx ${KV_MINGW_GCC_DIR}/libstdc++.a)
set(_kv_libstdcxx_copy ${KV_MINGW_RUNTIME_DIR}/libstdc++.a)
if(NOT EXISTS ${_kv_libstdcxx_copy} OR ${_kv_libstdcxx} IS_NEWER_THAN ${_kv_libstdcxx_copy})
  file(MAKE_DIRECTORY ${KV_MINGW_RUNTIME_DIR})
  execute_process(
    COMMAND /usr/bin/python3 ${CMAKE_CURRENT_LIST_DIR}/mingw_eh_frame.py ${CMAKE_AR}
            ${_kv_libstdcxx} ${_kv_libstdcxx_copy}
    COMMAND_ERROR_IS_FATAL ANY)
endif()
