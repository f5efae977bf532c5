# GoogleTest for the Windows build: Debian ships its sources
# (/usr/src/googletest), built here with the cross compiler into the same
# targets the Linux build finds installed.
set(SHAPEBOARD_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest's sources")
if(NOT EXISTS ${SHAPEBOARD_GOOGLETEST_SOURCE}/CMakeLists.txt)
  message(FATAL_ERROR "GoogleTest's sources are not in ${SHAPEBOARD_GOOGLETEST_SOURCE} "
                      "(Debian: apt-get install googletest)")
endif()
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
add_subdirectory(${SHAPEBOARD_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
foreach(library gtest gtest_main gmock gmock_main)
  # Its own code, its own warnings: the project's -Werror is not for it.
  target_compile_options(${library} PRIVATE -Wno-error)
  if(NOT TARGET GTest::${library})
    add_library(GTest::${library} ALIAS ${library})
  endif()
endforeach()
