# cmake --install and CPack. Natively: two Debian packages, plcfwupdate (the tool, its manual
# page, completion for bash, zsh and PowerShell, copyright and changelog) and plcfwupdate-sim (the same for plcsim, and
# plcsim-image, the synthetic image generator). Windows:
# the window program, the console program, a short read-me and the PowerShell completion, which
# scripts/package makes into a zip and an MSI.
set(CPACK_PACKAGE_NAME plcfwupdate)
set(CPACK_PACKAGE_VENDOR "Korvel")
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
  set_property(SOURCE ${CMAKE_SOURCE_DIR}/resource/bench.rc DIRECTORY ${CMAKE_SOURCE_DIR}/benchwin
    APPEND PROPERTY COMPILE_DEFINITIONS ${PLC_VERSION_DEFINITIONS})
  # The window program, the console program and the bench window; scripts/package stages them from here (signed
  # when a certificate is given) into the zip and the MSI (packaging/plcfwupdate.wxs).
  install(TARGETS plcfwupdate_gui plcfwupdate_cli plcfwbench RUNTIME DESTINATION .)
  # The read-me with CRLF line ends: Notepad before Windows 10 shows a file of bare LFs as one
  # line.
  set(PLC_README_WINDOWS ${CMAKE_SOURCE_DIR}/packaging/README-windows.txt)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PLC_README_WINDOWS})
  file(READ ${PLC_README_WINDOWS} PLC_README_TEXT)
  string(REPLACE "\r\n" "\n" PLC_README_TEXT "${PLC_README_TEXT}")
  string(REPLACE "\n" "\r\n" PLC_README_TEXT "${PLC_README_TEXT}")
  file(WRITE ${CMAKE_BINARY_DIR}/README.txt "${PLC_README_TEXT}")
  install(FILES ${CMAKE_BINARY_DIR}/README.txt ${CMAKE_SOURCE_DIR}/packaging/completion.ps1
    DESTINATION .)
  return()
endif()

include(GNUInstallDirs)
# The Debian revision; packaging/changelog's latest entry names this version.
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(PLC_DEB_VERSION ${PROJECT_VERSION}-${CPACK_DEBIAN_PACKAGE_RELEASE})
set(PLC_CHANGELOG ${CMAKE_SOURCE_DIR}/packaging/changelog)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PLC_CHANGELOG})
file(STRINGS ${PLC_CHANGELOG} PLC_CHANGELOG_TOP LIMIT_COUNT 1)
if(NOT PLC_CHANGELOG_TOP MATCHES "^plcfwupdate \\(${PLC_DEB_VERSION}\\) ")
  message(FATAL_ERROR "packaging/changelog: its latest entry must be for version "
    "${PLC_DEB_VERSION} (the project's version and the Debian revision)")
endif()

# component  package          program
set(PLC_PACKAGES
  tool       plcfwupdate      plcfwupdate
  sim        plcfwupdate-sim  plcsim)
set(PLC_DOC_DIR ${CMAKE_BINARY_DIR}/doc)
add_custom_command(OUTPUT ${PLC_DOC_DIR}/changelog.Debian.gz
  COMMAND ${CMAKE_COMMAND} -E make_directory ${PLC_DOC_DIR}
  COMMAND gzip -9nc ${PLC_CHANGELOG} > ${PLC_DOC_DIR}/changelog.Debian.gz
  DEPENDS ${PLC_CHANGELOG})
# Manual pages compressed as Debian keeps them.
set(PLC_MAN_DIR ${CMAKE_BINARY_DIR}/man)
set(PLC_MAN_PAGES)
set(PLC_COMPONENTS)
while(PLC_PACKAGES)
  list(POP_FRONT PLC_PACKAGES component package program)
  list(APPEND PLC_COMPONENTS ${component})
  string(TOUPPER ${component} c)
  set(CPACK_DEBIAN_${c}_PACKAGE_NAME ${package})
  set(CPACK_DEBIAN_${c}_FILE_NAME DEB-DEFAULT)
  install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT ${component})
  add_custom_command(OUTPUT ${PLC_MAN_DIR}/${program}.1.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${PLC_MAN_DIR}
    COMMAND gzip -9nc ${CMAKE_SOURCE_DIR}/packaging/${program}.1 > ${PLC_MAN_DIR}/${program}.1.gz
    DEPENDS ${CMAKE_SOURCE_DIR}/packaging/${program}.1)
  list(APPEND PLC_MAN_PAGES ${PLC_MAN_DIR}/${program}.1.gz)
  install(FILES ${PLC_MAN_DIR}/${program}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
    COMPONENT ${component})
  # bash-completion loads a command's file by the command's name: the one file under each name.
  install(FILES ${CMAKE_SOURCE_DIR}/packaging/completion.bash
    DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME ${program}
    COMPONENT ${component})
  # zsh's compinit reads the "#compdef" line of each file in Debian's vendor directory.
  install(FILES ${CMAKE_SOURCE_DIR}/packaging/completion.zsh
    DESTINATION ${CMAKE_INSTALL_DATADIR}/zsh/vendor-completions RENAME _${program}
    COMPONENT ${component})
  # PowerShell has no directory it loads completions from: the profile dot-sources the file.
  install(FILES ${CMAKE_SOURCE_DIR}/packaging/completion.ps1
    DESTINATION ${CMAKE_INSTALL_DATADIR}/${package} COMPONENT ${component})
  install(FILES ${CMAKE_SOURCE_DIR}/packaging/copyright ${PLC_DOC_DIR}/changelog.Debian.gz
    DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package} COMPONENT ${component})
endwhile()
# The simulator's users make their test images with the build's own generator.
install(PROGRAMS $<TARGET_FILE:genimage> DESTINATION ${CMAKE_INSTALL_BINDIR} RENAME plcsim-image
  COMPONENT sim)
add_custom_target(man_pages ALL DEPENDS ${PLC_MAN_PAGES})
add_custom_target(package_docs ALL DEPENDS ${PLC_DOC_DIR}/changelog.Debian.gz)

set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL ${PLC_COMPONENTS})
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_TOOL_PACKAGE_SUGGESTS plcfwupdate-sim)
# Before 1.0.0-1 plcsim was part of plcfwupdate: the simulator takes its files over from such
# a plcfwupdate instead of failing to install beside it.
set(CPACK_DEBIAN_SIM_PACKAGE_REPLACES "plcfwupdate (<< 1.0.0-1)")
set(CPACK_DEBIAN_SIM_PACKAGE_BREAKS "plcfwupdate (<< 1.0.0-1)")
set(CPACK_DEBIAN_SIM_PACKAGE_SOURCE plcfwupdate)
# The summary is the first line (CPack adds none of its own when CPACK_PACKAGE_DESCRIPTION_SUMMARY
# is unset); CPack indents the rest.
set(CPACK_DEBIAN_TOOL_DESCRIPTION
  "Korvel PLC firmware update program\nplcfwupdate writes the firmware image built into it into a Korvel PLC over a\nserial port, the PLC's USB device, tcp:// or rfc2217://.")
set(CPACK_DEBIAN_SIM_DESCRIPTION
  "Korvel PLC simulator for demos and training\nplcsim plays a PLC of any catalogue model, application firmware and\nbootloader, on a pseudo-terminal or a TCP port, for demos, training and tests\nof plcfwupdate.")
find_program(DPKG_SHLIBDEPS dpkg-shlibdeps)
if(DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6 (>= 2.34), libgcc-s1 (>= 3.0), libstdc++6 (>= 12)")
endif()
include(CPack)
