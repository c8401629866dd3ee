# GoogleTest and GoogleMock for the Windows cross-build, compiled in the build
# tree from the sources that Debian's libgtest-dev installs. Defines the
# targets GTest::gtest, GTest::gtest_main, GTest::gmock and GTest::gmock_main.
set(UPDATER_GOOGLETEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources")
if(NOT TARGET GTest::gtest)
  if(NOT EXISTS ${UPDATER_GOOGLETEST_SOURCE_DIR}/CMakeLists.txt)
    set(GTest_FOUND FALSE)
    set(GTest_NOT_FOUND_MESSAGE "no GoogleTest sources in ${UPDATER_GOOGLETEST_SOURCE_DIR}")
    return()
  endif()
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  add_subdirectory(${UPDATER_GOOGLETEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/_deps/googletest
    EXCLUDE_FROM_ALL SYSTEM)
endif()
set(GTest_FOUND TRUE)
