# Exploit mitigations for every binary of the Windows build. Included after
# the third-party targets exist and before our own.

# Stack cookies on all C and C++ code: ours, and jsoncpp's, which keeps its
# other flags. At compile time only: at link time the driver would add libssp,
# whose guard and failure are replaced by src/hardening/stack_guard.cpp.
set(KV_STACK_PROTECTOR "$<$<COMPILE_LANGUAGE:C,CXX>:-fstack-protector-strong>")
add_compile_options("${KV_STACK_PROTECTOR}")
target_compile_options(jsoncpp_static PRIVATE "${KV_STACK_PROTECTOR}")

add_subdirectory(src/hardening)
# Every executable and DLL defined from here on gets the guard.
link_libraries(kv_stack_guard)
