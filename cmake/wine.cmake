# Windows programs run under Wine in a private prefix of this build tree,
# through a wrapper that creates the prefix on first use.
set(MORVANE_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix CACHE PATH "Wine prefix for tests")
configure_file(${CMAKE_SOURCE_DIR}/tests/wine/wine-run.sh.in ${CMAKE_BINARY_DIR}/wine-run @ONLY
               FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(MORVANE_WINE_RUN ${CMAKE_BINARY_DIR}/wine-run)
if(WIN32)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${MORVANE_WINE_RUN})
endif()
