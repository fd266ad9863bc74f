# cmake --install and CPack. Natively: plcfwupdate and plcsim, their manual pages and bash
# completion, as a Debian package. Windows: the window program, the console program and a short
# read-me, which scripts/package makes into a zip and an MSI.
set(CPACK_PACKAGE_NAME plcfwupdate)
set(CPACK_PACKAGE_VENDOR "Korvel")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Korvel PLC firmware update program and PLC simulator")
set(CPACK_PACKAGE_CONTACT "Korvel PLC tools <plc-tools@korvel.invalid>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_STRIP_FILES ON)

if(WIN32)
  # The version resource of both programs (resource/version.rc) from the project's version;
  # the resource script is one source of two directories, so the definitions are set in each.
  set(PLC_VERSION_DEFINITIONS PLC_VERSION_MAJOR=${PROJECT_VERSION_MAJOR}
    PLC_VERSION_MINOR=${PROJECT_VERSION_MINOR} PLC_VERSION_PATCH=${PROJECT_VERSION_PATCH}
    PLC_VERSION_DOTTED=${PROJECT_VERSION})
  set_property(SOURCE ${CMAKE_SOURCE_DIR}/resource/resource.rc DIRECTORY ${CMAKE_SOURCE_DIR}/main
    APPEND PROPERTY COMPILE_DEFINITIONS ${PLC_VERSION_DEFINITIONS})
  set_property(SOURCE ${CMAKE_SOURCE_DIR}/resource/resource.rc DIRECTORY ${CMAKE_SOURCE_DIR}/cli
    APPEND PROPERTY COMPILE_DEFINITIONS ${PLC_VERSION_DEFINITIONS} PLC_CONSOLE_PROGRAM)
  foreach(dir main cli)
    set_property(SOURCE ${CMAKE_SOURCE_DIR}/resource/resource.rc DIRECTORY ${CMAKE_SOURCE_DIR}/${dir}
      APPEND PROPERTY OBJECT_DEPENDS ${CMAKE_SOURCE_DIR}/resource/version.rc)
  endforeach()
  # The window program and the console program; scripts/package stages them from here (signed
  # when a certificate is given) into the zip and the MSI (packaging/plcfwupdate.wxs).
  install(TARGETS plcfwupdate_gui plcfwupdate_cli RUNTIME DESTINATION .)
  install(FILES ${CMAKE_SOURCE_DIR}/packaging/README-windows.txt DESTINATION . RENAME README.txt)
  return()
endif()

include(GNUInstallDirs)
install(TARGETS plcfwupdate plcsim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# Manual pages compressed as Debian keeps them.
set(PLC_MAN_DIR ${CMAKE_BINARY_DIR}/man)
foreach(page plcfwupdate.1 plcsim.1)
  add_custom_command(OUTPUT ${PLC_MAN_DIR}/${page}.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${PLC_MAN_DIR}
    COMMAND gzip -9nc ${CMAKE_SOURCE_DIR}/packaging/${page} > ${PLC_MAN_DIR}/${page}.gz
    DEPENDS ${CMAKE_SOURCE_DIR}/packaging/${page})
  list(APPEND PLC_MAN_PAGES ${PLC_MAN_DIR}/${page}.gz)
endforeach()
add_custom_target(man_pages ALL DEPENDS ${PLC_MAN_PAGES})
install(FILES ${PLC_MAN_PAGES} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
# bash-completion loads a command's file by the command's name: one file under both names.
foreach(program plcfwupdate plcsim)
  install(FILES ${CMAKE_SOURCE_DIR}/packaging/completion.bash
    DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME ${program})
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
# The summary is the first line; CPack indents the rest.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
  "plcfwupdate writes the firmware image built into it into a Korvel PLC over a serial port,\nthe PLC's USB device, tcp:// or rfc2217://. plcsim plays a PLC of any catalogue model on a\npseudo-terminal or a TCP port, for demos and training.")
find_program(DPKG_SHLIBDEPS dpkg-shlibdeps)
if(DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6 (>= 2.34), libgcc-s1 (>= 3.0), libstdc++6 (>= 12)")
endif()
include(CPack)
