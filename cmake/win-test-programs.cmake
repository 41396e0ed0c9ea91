# The Windows test programs' own tree (MORVANE_MINGW_THREADS=posix). They
# test the program tree's libraries as built for the product, bound through
# its import libraries; only what they compile in themselves is built here.
set(MORVANE_WIN_BUILD_DIR ${CMAKE_BINARY_DIR}/../win CACHE PATH "The Windows program's build tree, whose libraries these programs test")
foreach(file Morvane/TarnPortDll.dll libs/tarnport/libTarnPortDll.dll.a
             Morvane/SkinPlusPlusDLL.dll libs/skin/libSkinPlusPlusDLL.dll.a)
  if(NOT EXISTS "${MORVANE_WIN_BUILD_DIR}/${file}")
    message(FATAL_ERROR "${MORVANE_WIN_BUILD_DIR}/${file} is missing: build the program tree first and give it as MORVANE_WIN_BUILD_DIR")
  endif()
endforeach()

foreach(library TarnPortDll:tarnport SkinPlusPlusDLL:skin)
  string(REPLACE ":" ";" parts ${library})
  list(GET parts 0 name)
  list(GET parts 1 folder)
  add_library(${name} SHARED IMPORTED)
  set_target_properties(${name} PROPERTIES
    IMPORTED_LOCATION ${MORVANE_WIN_BUILD_DIR}/Morvane/${name}.dll
    IMPORTED_IMPLIB ${MORVANE_WIN_BUILD_DIR}/libs/${folder}/lib${name}.dll.a
    INTERFACE_INCLUDE_DIRECTORIES ${PROJECT_SOURCE_DIR})
endforeach()

set(MORVANE_WIN_TEST_PROGRAMS ON)
include(cmake/googletest.cmake)
add_subdirectory(protocol)
add_subdirectory(port)
add_subdirectory(libs)
add_subdirectory(tests/win)
add_subdirectory(tests/e2e/win)
