# Every exploit mitigation of a Windows image, in one place: the toolchain
# file says only how to compile and link. Included once, after the
# third-party targets exist and before our own.
#
# - Control Flow Guard on all C and C++ code, third-party and tests included:
#   every call through a pointer is checked, and every function whose
#   address is taken is listed in the image's table;
# - stack cookies on our code and jsoncpp's (not GoogleTest's);
# - every executable and DLL linked from here on links kv_image_hardening
#   (src/hardening): the cookies' guard and failure, and the load
#   configuration that holds Control Flow Guard's tables;
# - every link: Control Flow Guard, XP's system version, the main thread's
#   stack reserve, no terminal-server awareness;
# - kv_no_seh(<target>): NO_SEH, for the shipped binaries
#   (cmake/release.cmake).
#
# The compiler checks of the toolchain run without any of these.

set(KV_GUARD_CF "$<$<COMPILE_LANGUAGE:C,CXX>:-mguard=cf>")
# Windows XP is NT 5.1: the loader refuses an image that asks for a newer
# operating system or subsystem, and lld would ask for 6.0. lld would also
# mark the image terminal-server aware, which kvfetch never was, and reserve
# 1 MiB of stack for the main thread where GNU ld reserved 2.
set(KV_IMAGE_LINK_OPTIONS
    -mguard=cf
    -Wl,--disable-tsaware
    -Wl,--stack,0x200000
    -Wl,--major-os-version,5,--minor-os-version,1
    -Wl,--major-subsystem-version,5,--minor-subsystem-version,1)

# The targets defined so far (jsoncpp, GoogleTest) get them as well.
function(_kv_harden_targets_under dir)
  get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
  foreach(target IN LISTS targets)
    get_target_property(type ${target} TYPE)
    if(NOT type MATCHES "^(INTERFACE_LIBRARY|UTILITY)$")
      target_compile_options(${target} PRIVATE "${KV_GUARD_CF}")
      target_link_options(${target} PRIVATE ${KV_IMAGE_LINK_OPTIONS})
    endif()
  endforeach()
  get_property(subdirs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
  foreach(subdir IN LISTS subdirs)
    _kv_harden_targets_under(${subdir})
  endforeach()
endfunction()
_kv_harden_targets_under(${CMAKE_CURRENT_SOURCE_DIR})
add_compile_options("${KV_GUARD_CF}")
add_link_options(${KV_IMAGE_LINK_OPTIONS})

# At compile time only: at link time the driver would add libssp, whose
# guard and failure are replaced by src/hardening/stack_guard.cpp.
set(KV_STACK_PROTECTOR "$<$<COMPILE_LANGUAGE:C,CXX>:-fstack-protector-strong>")
add_compile_options("${KV_STACK_PROTECTOR}")
target_compile_options(jsoncpp_static PRIVATE "${KV_STACK_PROTECTOR}")

add_subdirectory(src/hardening)
# First among each binary's own libraries, so before the runtime's archives:
# load_config.c says why that matters.
link_libraries(kv_image_hardening)

# SafeSEH: these linkers cannot write a handler table, so an image may only
# claim to have no handlers; C++ exceptions here unwind by DWARF tables and
# register none. Checked after each link: no code of the image writes
# fs:[0]. Only the shipped binaries claim it.
set(KV_CHECK_NO_SEH ${CMAKE_CURRENT_LIST_DIR}/check_no_seh.py)
function(kv_no_seh target)
  target_link_options(${target} PRIVATE -Wl,--no-seh)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${KV_PYTHON} ${KV_CHECK_NO_SEH} ${CMAKE_OBJDUMP} $<TARGET_FILE:${target}>
    VERBATIM)
endfunction()
