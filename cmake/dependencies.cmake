# Third-party code is installed by scripts/bootstrap, never copied into the
# tree: jsoncpp and GoogleTest come from Debian's packages.

# jsoncpp: Debian's library natively; for MinGW, Debian's source package built
# statically with the cross compiler. Exceptions stay on: the reader's nesting
# limit and error paths rely on them.
if(CMAKE_CROSSCOMPILING)
  if(NOT KVFETCH_JSONCPP_SOURCE)
    # Where scripts/bootstrap unpacks it: $KVFETCH_DEPS, else build/_deps,
    # the same choice as the scripts make.
    set(_kv_deps "$ENV{KVFETCH_DEPS}")
    if(_kv_deps STREQUAL "")
      set(_kv_deps ${CMAKE_SOURCE_DIR}/build/_deps)
    endif()
    file(GLOB _kv_jsoncpp_lists ${_kv_deps}/jsoncpp/libjsoncpp-*/CMakeLists.txt)
    if(_kv_jsoncpp_lists)
      list(GET _kv_jsoncpp_lists 0 _kv_jsoncpp_list)
      get_filename_component(_kv_jsoncpp_dir ${_kv_jsoncpp_list} DIRECTORY)
      set(KVFETCH_JSONCPP_SOURCE ${_kv_jsoncpp_dir} CACHE PATH "" FORCE)
    endif()
  endif()
  if(NOT EXISTS ${KVFETCH_JSONCPP_SOURCE}/CMakeLists.txt)
    message(FATAL_ERROR "jsoncpp source not found; run scripts/bootstrap "
                        "(or set KVFETCH_DEPS to its cache folder)")
  endif()
  set(JSONCPP_WITH_TESTS OFF CACHE BOOL "" FORCE)
  set(JSONCPP_WITH_POST_BUILD_UNITTEST OFF CACHE BOOL "" FORCE)
  set(JSONCPP_WITH_PKGCONFIG_SUPPORT OFF CACHE BOOL "" FORCE)
  set(JSONCPP_WITH_CMAKE_PACKAGE OFF CACHE BOOL "" FORCE)
  set(BUILD_SHARED_LIBS OFF CACHE BOOL "" FORCE)
  set(BUILD_STATIC_LIBS ON CACHE BOOL "" FORCE)
  set(BUILD_OBJECT_LIBS OFF CACHE BOOL "" FORCE)
  # Its old cmake_minimum_required is its own business, not a warning of
  # ours; CMake reads the setting from the cache only.
  set(CMAKE_WARN_DEPRECATED OFF CACHE INTERNAL "")
  add_subdirectory(${KVFETCH_JSONCPP_SOURCE} ${CMAKE_BINARY_DIR}/_jsoncpp EXCLUDE_FROM_ALL)
  unset(CMAKE_WARN_DEPRECATED CACHE)
  add_library(kv_jsoncpp INTERFACE)
  target_link_libraries(kv_jsoncpp INTERFACE jsoncpp_static)
else()
  find_package(jsoncpp CONFIG REQUIRED)
  add_library(kv_jsoncpp INTERFACE)
  target_link_libraries(kv_jsoncpp INTERFACE jsoncpp_lib)
endif()

# GoogleTest from the sources of Debian's googletest package, built with the
# toolchain at hand.
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/_googletest EXCLUDE_FROM_ALL)
