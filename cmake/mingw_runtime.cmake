# The build tree's copy of Debian's MinGW libstdc++, with the unwind tables
# of its template and inline functions tied to them, so that lld keeps them
# (cmake/mingw_eh_frame.py says why). The toolchain file names its folder,
# KV_MINGW_RUNTIME_DIR, and puts it first on the library path. Made again
# when Debian's libstdc++ or the script changes.
set(_kv_libstdcxx ${KV_MINGW_GCC_DIR}/libstdc++.a)
set(_kv_libstdcxx_copy ${KV_MINGW_RUNTIME_DIR}/libstdc++.a)
set(_kv_eh_frame_script ${CMAKE_CURRENT_LIST_DIR}/mingw_eh_frame.py)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${_kv_eh_frame_script})
if(NOT EXISTS ${_kv_libstdcxx_copy}
   OR ${_kv_libstdcxx} IS_NEWER_THAN ${_kv_libstdcxx_copy}
   OR ${_kv_eh_frame_script} IS_NEWER_THAN ${_kv_libstdcxx_copy})
  file(MAKE_DIRECTORY ${KV_MINGW_RUNTIME_DIR})
  execute_process(
    COMMAND ${KV_PYTHON} ${_kv_eh_frame_script} ${CMAKE_AR}
            ${_kv_libstdcxx} ${_kv_libstdcxx_copy}
    COMMAND_ERROR_IS_FATAL ANY)
endif()
