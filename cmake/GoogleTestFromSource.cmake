# GoogleTest and GoogleMock built from the sources Debian ships, with this
# build's compiler and flags: for a cross build, whose target has none, and
# for a build with another string ABI than the machine's libraries.

set(UMX_GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest source tree to build")
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
# Its warnings are its own: they never fail this build.
block()
  set(CMAKE_COMPILE_WARNING_AS_ERROR OFF)
  add_subdirectory(${UMX_GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
endblock()
foreach(umx_gtest_target IN ITEMS gtest gmock gtest_main)
  if(NOT TARGET GTest::${umx_gtest_target})
    add_library(GTest::${umx_gtest_target} ALIAS ${umx_gtest_target})
  endif()
endforeach()
