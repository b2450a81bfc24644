# Cross toolchain: 32-bit Windows through clang in MinGW mode, over the
# MinGW-w64 runtime and libstdc++ (posix threads, so std::thread and
# std::mutex are real) that Debian builds for GCC. clang rather than GCC
# because only clang builds Control Flow Guard into our code.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

include(${CMAKE_CURRENT_LIST_DIR}/build_tools.cmake)
set(KV_MINGW_TRIPLE i686-w64-mingw32)
kv_llvm_tool(CMAKE_C_COMPILER clang clang-${KV_LLVM_VERSION})
kv_llvm_tool(CMAKE_CXX_COMPILER clang++ clang-${KV_LLVM_VERSION})
# cmake/ld-lld-xp runs this lld; it finds it from cmake/llvm-version itself.
kv_require_tool(${KV_LLVM_BIN}/ld.lld lld-${KV_LLVM_VERSION})
set(CMAKE_ASM_COMPILER ${CMAKE_C_COMPILER})
set(CMAKE_C_COMPILER_TARGET ${KV_MINGW_TRIPLE})
set(CMAKE_CXX_COMPILER_TARGET ${KV_MINGW_TRIPLE})
set(CMAKE_ASM_COMPILER_TARGET ${KV_MINGW_TRIPLE})
kv_require_tool(/usr/bin/${KV_MINGW_TRIPLE}-objdump binutils-mingw-w64-i686)
set(CMAKE_RC_COMPILER /usr/bin/${KV_MINGW_TRIPLE}-windres)
set(CMAKE_DLLTOOL /usr/bin/${KV_MINGW_TRIPLE}-dlltool)
set(CMAKE_OBJCOPY /usr/bin/${KV_MINGW_TRIPLE}-objcopy)
set(CMAKE_OBJDUMP /usr/bin/${KV_MINGW_TRIPLE}-objdump)
set(CMAKE_NM /usr/bin/${KV_MINGW_TRIPLE}-nm)
set(CMAKE_AR /usr/bin/${KV_MINGW_TRIPLE}-ar)
set(CMAKE_RANLIB /usr/bin/${KV_MINGW_TRIPLE}-ranlib)

set(CMAKE_FIND_ROOT_PATH /usr/${KV_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# clang does not find Debian's GCC folder for MinGW (named after its GCC)
# by itself: GCC's own posix driver says where its libstdc++ is. That
# libstdc++ keeps its thread-locals (std::call_once's) the way GCC does on
# Windows, emulated: so must we.
set(KV_MINGW_GXX /usr/bin/${KV_MINGW_TRIPLE}-g++-posix)
kv_require_tool(${KV_MINGW_GXX} g++-mingw-w64-i686-posix)
execute_process(COMMAND ${KV_MINGW_GXX} -print-file-name=libstdc++.a
                OUTPUT_VARIABLE _kv_libstdcxx OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT IS_ABSOLUTE "${_kv_libstdcxx}" OR NOT EXISTS "${_kv_libstdcxx}")
  message(FATAL_ERROR "${KV_MINGW_GXX} knows no libstdc++.a: install Debian's g++-mingw-w64-i686-posix")
endif()
get_filename_component(KV_MINGW_GCC_DIR ${_kv_libstdcxx} DIRECTORY)
set(_kv_gcc ${KV_MINGW_GCC_DIR})
set(CMAKE_CXX_FLAGS_INIT
    "-isystem ${_kv_gcc}/include/c++ -isystem ${_kv_gcc}/include/c++/${KV_MINGW_TRIPLE} -isystem ${_kv_gcc}/include/c++/backward -femulated-tls")
set(CMAKE_C_FLAGS_INIT "-femulated-tls")

# The build tree's copy of that libstdc++ (cmake/mingw_runtime.cmake makes
# it) goes first on the library path; the compiler checks, which run before
# the copy exists, take Debian's.
set(KV_MINGW_RUNTIME_DIR ${CMAKE_BINARY_DIR}/mingw-runtime)

# The binaries must import nothing but system DLLs: the C++ runtime, libgcc
# and winpthread go in statically. -B makes the driver take GCC's crtbegin.o
# and crtend.o rather than MinGW-w64's empty ones: GCC's register the
# image's unwind tables with libgcc's unwinder, without which no C++
# exception finds its handler. The linker is lld behind cmake/ld-lld-xp,
# which takes the same LLVM and makes the load configuration's directory one
# XP accepts. The mitigations, Control Flow Guard among them, are
# cmake/hardened_image.cmake's.
set(_kv_link "-B${_kv_gcc} --ld-path=${CMAKE_CURRENT_LIST_DIR}/ld-lld-xp -L${KV_MINGW_RUNTIME_DIR} -L${_kv_gcc} -static -static-libgcc -static-libstdc++")
set(CMAKE_EXE_LINKER_FLAGS_INIT "${_kv_link}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${_kv_link}")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "${_kv_link}")
set(CMAKE_C_STANDARD_LIBRARIES "-lpthread")
set(CMAKE_CXX_STANDARD_LIBRARIES "-lpthread")

# Every test binary runs under Wine with the build tree's private prefix.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run)
