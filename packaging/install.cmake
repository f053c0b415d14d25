# What installs, and the Debian package cpack builds from it (packaging/build-deb.sh does it all).
# Included by the top-level CMakeLists.txt, whose binary folder the paths below are in.

# Installation: the program and the simulator, with a menu entry and an icon for the desktop.
include(GNUInstallDirs)
install(TARGETS rq735 rq735-sim rq735ctl RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${RQ735_ROOT}/packaging/rq735.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${RQ735_ROOT}/packaging/rq735.svg
  DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
foreach(size 48 128 256)
  install(FILES ${RQ735_ROOT}/packaging/rq735-${size}.png
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps RENAME rq735.png)
endforeach()
# Manual pages and the changelog, compressed as Debian keeps them.
set(RQ735_GZIPPED)
foreach(doc rq735.1 rq735-sim.1 rq735ctl.1 changelog)
  set(out ${CMAKE_CURRENT_BINARY_DIR}/packaging/${doc}.gz)
  add_custom_command(OUTPUT ${out}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/packaging
    COMMAND gzip -9nc ${RQ735_ROOT}/packaging/${doc} > ${out}
    DEPENDS ${RQ735_ROOT}/packaging/${doc} VERBATIM)
  list(APPEND RQ735_GZIPPED ${out})
endforeach()
add_custom_target(rq735_docs ALL DEPENDS ${RQ735_GZIPPED})
# rq735ctl's bash completion, where bash-completion looks for it; a copy in the build folder for
# the tests.
configure_file(${RQ735_ROOT}/packaging/rq735ctl.bash-completion ${CMAKE_CURRENT_BINARY_DIR}/packaging/rq735ctl COPYONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/packaging/rq735ctl DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/packaging/rq735.1.gz ${CMAKE_CURRENT_BINARY_DIR}/packaging/rq735-sim.1.gz
  ${CMAKE_CURRENT_BINARY_DIR}/packaging/rq735ctl.1.gz
  DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/packaging/changelog.gz ${RQ735_ROOT}/packaging/copyright
  DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/rq735)

# A Debian package: cpack -G DEB in the build folder (packaging/build-deb.sh does it all).
set(CPACK_PACKAGE_NAME rq735)
set(CPACK_PACKAGE_VENDOR "RQ735 configurator developers")
set(CPACK_PACKAGE_CONTACT "RQ735 configurator developers <rq735@example.com>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Configuration program for the RQ735 HART to MODBUS RTU converter module")
set(CPACK_PACKAGE_DESCRIPTION
  "A desktop tool that reads and writes the converter module's settings, talks\nHART to the instrument behind it and tests its MODBUS RTU side over one serial\nline. Includes rq735ctl, the same from the command line for scripts and many\nmodules at once, and rq735-sim, a simulated module on a pseudo-terminal.")
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
# Library dependencies come from dpkg-shlibdeps; the X11 platform plugin ships with libqt6gui6.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-dejavu-core")
include(CPack)
