include(GoogleTest)

if(CMAKE_CROSSCOMPILING)
  set(KV_TEST_LABEL wine)
else()
  set(KV_TEST_LABEL portable)
endif()

# kv_add_gtest(name SOURCES ... LIBRARIES ... [PROPERTIES key value ...]): a
# GoogleTest executable whose cases CTest discovers when it runs (under Wine
# in the win32 build), each with the given test properties.
function(kv_add_gtest name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBRARIES;PROPERTIES" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBRARIES} GTest::gtest_main)
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    # Listing the cases starts a Windows program: seconds under emulation.
    DISCOVERY_TIMEOUT 600
    PROPERTIES LABELS ${KV_TEST_LABEL} ${ARG_PROPERTIES})
endfunction()
