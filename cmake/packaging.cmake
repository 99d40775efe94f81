# Install rules and the Debian package (CPack): the four programs, their
# manual pages, the desktop entries and icons, the README and the copyright
# file. Included from the top level on Linux once download-tool,
# download-cli and target-sim exist (download-station comes with
# download-tool). scripts/package.sh runs cpack.

include(GNUInstallDirs)

install(TARGETS download-tool download-station download-cli target-sim
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# Manual pages, made from each program's --help and --version by help2man,
# with the sections of packaging/posix/PROGRAM.h2m where there is one,
# gzipped as Debian wants them. Not in sanitizer builds: those never make
# the package.
find_program(DT_HELP2MAN help2man)
find_program(DT_GZIP gzip)
if(DT_HELP2MAN AND DT_GZIP AND NOT DT_SANITIZE)
  set(DT_MAN_DIR ${CMAKE_BINARY_DIR}/man)
  set(DT_MAN_PAGES)
  foreach(entry
      "download-tool|program a firmware image into a target machine over a serial port"
      "download-station|program firmware into the units at every fixture position of a station"
      "download-cli|program firmware images into target machines without a window"
      "target-sim|simulated target machine on a pseudo-terminal")
    string(REPLACE "|" ";" entry "${entry}")
    list(GET entry 0 program)
    list(GET entry 1 summary)
    set(h2m ${CMAKE_CURRENT_SOURCE_DIR}/packaging/posix/${program}.h2m)
    set(h2m_option)
    if(EXISTS ${h2m})
      set(h2m_option --include=${h2m})
    else()
      set(h2m)
    endif()
    add_custom_command(OUTPUT ${DT_MAN_DIR}/${program}.1.gz
      COMMAND ${CMAKE_COMMAND} -E make_directory ${DT_MAN_DIR}
      COMMAND ${DT_HELP2MAN} --no-info --no-discard-stderr --section=1 --name=${summary}
              ${h2m_option} --output=${DT_MAN_DIR}/${program}.1 $<TARGET_FILE:${program}>
      COMMAND ${DT_GZIP} -9nf ${DT_MAN_DIR}/${program}.1
      DEPENDS ${program} ${h2m}
      COMMENT "Writing the manual page of ${program}"
      VERBATIM)
    list(APPEND DT_MAN_PAGES ${DT_MAN_DIR}/${program}.1.gz)
  endforeach()
  add_custom_target(manual-pages ALL DEPENDS ${DT_MAN_PAGES})
  install(FILES ${DT_MAN_PAGES} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
else()
  message(STATUS "help2man or gzip not found, or a sanitizer build: no manual pages")
endif()

# The desktop's menu entries and the icon they name.
install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/packaging/posix/download-tool.desktop
              ${CMAKE_CURRENT_SOURCE_DIR}/packaging/posix/download-station.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
if(TARGET desktop-icons)
  install(DIRECTORY ${DT_ICON_DIR} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons)
endif()

# /usr/share/doc/download-tool: README, copyright, and the changelog a
# native Debian package carries, gzipped.
set(DT_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/download-tool)
configure_file(${CMAKE_CURRENT_SOURCE_DIR}/packaging/posix/changelog.in
               ${CMAKE_BINARY_DIR}/packaging/changelog @ONLY)
if(DT_GZIP)
  add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/packaging/changelog.gz
    COMMAND ${DT_GZIP} -9nkf ${CMAKE_BINARY_DIR}/packaging/changelog
    DEPENDS ${CMAKE_BINARY_DIR}/packaging/changelog
    VERBATIM)
  add_custom_target(package-changelog ALL DEPENDS ${CMAKE_BINARY_DIR}/packaging/changelog.gz)
  install(FILES ${CMAKE_BINARY_DIR}/packaging/changelog.gz DESTINATION ${DT_DOC_DIR})
endif()
install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/README.md
              ${CMAKE_CURRENT_SOURCE_DIR}/packaging/posix/copyright
        DESTINATION ${DT_DOC_DIR})

# The .deb. Its dependencies are the shared libraries the programs link
# (dpkg-shlibdeps), so apt pulls GTK 3 and the rest on a fresh machine.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME download-tool)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Download Tool Team")
set(CPACK_PACKAGE_CONTACT "Download Tool Team <download-tool@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "firmware download tool for serial target machines")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS OFF)
# The extended description; CPack puts the summary above it and indents it.
set(CPACK_PACKAGE_DESCRIPTION
    "Programs a firmware image into a target machine over a serial port: the
Lorvane 300 (character protocol, *.EUP images), the Quenta 5X and the
ZT418 (block protocol, scrambled *.UPL images).

download-tool is the window; download-station is the window of a
production station, programming units at up to 16 fixture positions at
once; download-cli programs without a window, for production lines, and
lists the serial ports present; target-sim is a simulated machine on a
pseudo-terminal for trying them without hardware.")
include(CPack)
