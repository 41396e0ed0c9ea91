# GoogleTest from Debian's libgtest-dev sources, built with whichever
# compiler this build uses (native g++/clang or MinGW).
if(MORVANE_TESTS AND NOT TARGET gtest)
  set(GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources")
  if(NOT EXISTS ${GTEST_SOURCE_DIR}/CMakeLists.txt)
    message(FATAL_ERROR "GoogleTest sources not found in ${GTEST_SOURCE_DIR}: install libgtest-dev")
  endif()
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
  add_subdirectory(${GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
  include(GoogleTest)
endif()

# GoogleTest's headers cost a test file more than its own code does: a test
# program parses them, and the headers its files share, once.
option(MORVANE_PCH "Precompile GoogleTest and the shared headers of each native test program" ON)
function(morvane_precompile_test_headers target)
  if(MORVANE_PCH)
    target_precompile_headers(${target} PRIVATE
      <gtest/gtest.h> <nlohmann/json.hpp>
      <algorithm> <atomic> <chrono> <filesystem> <fstream> <functional> <set> <sstream> <string>
      <thread> <vector>
      <fcntl.h> <poll.h> <signal.h> <sys/socket.h> <sys/wait.h> <unistd.h>)
  endif()
endfunction()
