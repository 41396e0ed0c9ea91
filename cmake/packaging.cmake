# Release packages from the project's one version (project(VERSION)):
#  - the Windows tree: Morvane-<version>-win64.zip, one folder that runs as it is;
#  - the native tree: a Debian package of morvane-cli and virtual-printer,
#    with manual pages, bash completion and the copyright file.
# scripts/package.sh makes both.
set(CPACK_PACKAGE_NAME Morvane)
set(CPACK_PACKAGE_VENDOR "Morvane")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Configuration tool for thermal receipt and label printers")
set(CPACK_PACKAGE_CONTACT "Morvane support <support@morvane.invalid>")
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_SOURCE_DIR}/LICENSE)
set(CPACK_OUTPUT_FILE_PREFIX ${CMAKE_BINARY_DIR}/packages)

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME Morvane-${PROJECT_VERSION}-win64)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
  configure_file(${CMAKE_SOURCE_DIR}/packaging/windows/README.txt.in ${CMAKE_BINARY_DIR}/README.txt @ONLY NEWLINE_STYLE CRLF)
  # install(FILES) fails, naming the file, when one of them is missing:
  # a folder without one of its pieces is never packed.
  install(FILES
    ${MORVANE_BIN_DIR}/Morvane.exe
    ${MORVANE_BIN_DIR}/TarnPortDll.dll
    ${MORVANE_BIN_DIR}/SkinPlusPlusDLL.dll
    ${MORVANE_BIN_DIR}/XPCorona.ssk
    ${MORVANE_BIN_DIR}/morvane-cli.exe
    ${CMAKE_BINARY_DIR}/README.txt
    ${CMAKE_SOURCE_DIR}/LICENSE
    DESTINATION .)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGE_NAME morvane-cli)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)   # libserialport0, libstdc++6, ... from the binaries
  set(CPACK_DEBIAN_PACKAGE_SUGGESTS ansible-core)  # for the morvane_printer module
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
      "Configure thermal printers from the command line\n morvane-cli reads and changes the settings of thermal receipt and label\n printers over serial, USB and parallel ports and the network, one printer or many\n at once, and an Ansible module, morvane_printer, that runs it on managed\n hosts.\n virtual-printer is a printer on a pseudo-terminal, for trying it out.")
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_STRIP_FILES ON)

  install(TARGETS morvane-cli virtual-printer RUNTIME DESTINATION bin)
  # Manual pages carry the project's version and are installed gzipped, as
  # Debian has them.
  set(man_pages)
  foreach(page morvane-cli.1 virtual-printer.1)
    configure_file(${CMAKE_SOURCE_DIR}/packaging/man/${page}.in ${CMAKE_BINARY_DIR}/man/${page} @ONLY)
    add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/man/${page}.gz
      COMMAND gzip -9n -c ${CMAKE_BINARY_DIR}/man/${page} > ${CMAKE_BINARY_DIR}/man/${page}.gz
      DEPENDS ${CMAKE_BINARY_DIR}/man/${page})
    list(APPEND man_pages ${CMAKE_BINARY_DIR}/man/${page}.gz)
  endforeach()
  add_custom_target(man_pages ALL DEPENDS ${man_pages})
  install(FILES ${man_pages} DESTINATION share/man/man1)
  install(FILES ${CMAKE_SOURCE_DIR}/packaging/morvane-cli.bash-completion
          DESTINATION share/bash-completion/completions RENAME morvane-cli)
  install(FILES ${CMAKE_SOURCE_DIR}/packaging/copyright DESTINATION share/doc/morvane-cli)
  # An example to copy and adapt: nothing under udev's own folders.
  install(FILES ${CMAKE_SOURCE_DIR}/packaging/udev/morvane-printers.rules.example DESTINATION share/doc/morvane-cli)
  # Where Ansible looks for modules without being told.
  install(FILES ${CMAKE_SOURCE_DIR}/packaging/ansible/morvane_printer.py DESTINATION share/ansible/plugins/modules)
endif()

include(CPack)
