# hpx_add_gtest(<name> SOURCES <files...> [LIBS <targets...>] [LABELS <labels...>])
#
# One GoogleTest program; every test case becomes its own ctest entry. On the win32
# preset the program is a Windows console program run under Wine (the toolchain's
# emulator); the listing happens when ctest starts, so building needs no Wine.
include(GoogleTest)

if(WIN32)
  find_package(GTest REQUIRED CONFIG)
elseif(HPX_GTEST_SOURCE_DIR)
  # Built from its sources with this build's flags (the system's library is for x86-64 only).
  add_subdirectory(${HPX_GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  find_package(Threads REQUIRED)
else()
  find_package(GTest REQUIRED)
  find_package(Threads REQUIRED)
endif()

function(hpx_add_gtest name)
  cmake_parse_arguments(a "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${a_SOURCES})
  target_link_libraries(${name} PRIVATE ${a_LIBS} GTest::gtest GTest::gtest_main)
  if(NOT WIN32)
    target_link_libraries(${name} PRIVATE Threads::Threads)
  endif()
  target_compile_definitions(${name} PRIVATE HPX_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
                                             HPX_DIST_DIR="${HPX_DIST_DIR}")
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 120
    PROPERTIES LABELS "${a_LABELS}" TIMEOUT 600)
endfunction()
