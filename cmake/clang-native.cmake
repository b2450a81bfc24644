# Host builds with the project's LLVM (cmake/llvm-version): the sanitizer,
# fuzz and ThreadSanitizer presets, whose runtimes come with that clang.
include(${CMAKE_CURRENT_LIST_DIR}/build_tools.cmake)
kv_llvm_tool(CMAKE_C_COMPILER clang clang-${KV_LLVM_VERSION})
kv_llvm_tool(CMAKE_CXX_COMPILER clang++ clang-${KV_LLVM_VERSION})
kv_require_tool(
  /usr/lib/llvm-${KV_LLVM_VERSION}/lib/clang/${KV_LLVM_VERSION}/lib/linux/libclang_rt.fuzzer-${CMAKE_HOST_SYSTEM_PROCESSOR}.a
  libclang-rt-${KV_LLVM_VERSION}-dev)
