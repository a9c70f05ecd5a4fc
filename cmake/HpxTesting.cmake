# hpx_add_gtest(<name> SOURCES <files...> [LIBS <targets...>] [LABELS <labels...>] [DESKTOP] [POINTER])
#
# One GoogleTest program; every test case becomes its own ctest entry. On the win32
# preset the program is a Windows console program run under Wine (the toolchain's
# emulator); the listing happens when ctest starts, so building needs no Wine.
# DESKTOP: a program that opens real windows runs each case in a Wine virtual desktop of
# its own (see scripts/wine-run.sh), where windows behave as on Windows.
# POINTER: a program whose cases move the mouse pointer or read where it is. Every virtual
# desktop sits on the one X server and shares its pointer, so such cases never run beside
# each other: a pointer moved by one would land on another's window.
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

# The size of the window tests' desktop: a screen of the common 16:10 kind.
set(HPX_WINE_DESKTOP 1600x1000)

function(hpx_add_gtest name)
  cmake_parse_arguments(a "DESKTOP;POINTER" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${a_SOURCES})
  target_link_libraries(${name} PRIVATE ${a_LIBS} GTest::gtest GTest::gtest_main)
  if(NOT WIN32)
    target_link_libraries(${name} PRIVATE Threads::Threads)
  endif()
  target_compile_definitions(${name} PRIVATE HPX_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
                                             HPX_DIST_DIR="${HPX_DIST_DIR}")
  set(props)
  if(WIN32 AND a_DESKTOP)
    set(props ENVIRONMENT HPX_WINE_DESKTOP=${HPX_WINE_DESKTOP})
  endif()
  if(a_POINTER)
    list(APPEND props RESOURCE_LOCK x-pointer)
  endif()
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 120
    PROPERTIES LABELS "${a_LABELS}" TIMEOUT 600 ${props})
endfunction()
