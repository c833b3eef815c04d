# Installation layout and the Debian package.
#
# The window program itself lives in libexec; bin/ferrowipe is a launcher that raises it to
# root through polkit when needed. ferrowipe-cli is installed as it is (run it as root on
# real disks).
#
# polkit reads its actions from /usr/share/polkit-1/actions only, so the program installs under
# /usr unless a prefix is given (with another prefix, copy the action file there by hand).
if(CMAKE_INSTALL_PREFIX_INITIALIZED_TO_DEFAULT)
  set(CMAKE_INSTALL_PREFIX /usr CACHE PATH "Install prefix" FORCE)
endif()
include(GNUInstallDirs)

set(FERROWIPE_PROGRAM "${CMAKE_INSTALL_FULL_LIBEXECDIR}/ferrowipe/ferrowipe")
configure_file(packaging/ferrowipe-launcher.sh.in ${CMAKE_BINARY_DIR}/packaging/ferrowipe @ONLY)
configure_file(packaging/org.example.ferrowipe.policy.in
               ${CMAKE_BINARY_DIR}/packaging/org.example.ferrowipe.policy @ONLY)

install(TARGETS ferrowipe RUNTIME DESTINATION ${CMAKE_INSTALL_LIBEXECDIR}/ferrowipe)
install(TARGETS ferrowipe-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(PROGRAMS ${CMAKE_BINARY_DIR}/packaging/ferrowipe DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${CMAKE_BINARY_DIR}/packaging/org.example.ferrowipe.policy
        DESTINATION ${CMAKE_INSTALL_DATADIR}/polkit-1/actions)
install(FILES packaging/ferrowipe.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES packaging/ferrowipe.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES packaging/man/ferrowipe.1 packaging/man/ferrowipe-cli.1
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ferrowipe)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Ferrowipe developers")
set(CPACK_PACKAGE_CONTACT "Ferrowipe developers <dev@ferrowipe.example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "disk eraser: zero-fills a whole disk, shows its details and S.M.A.R.T. data")
set(CPACK_PACKAGE_DESCRIPTION
    "Ferrowipe lists the physical disks, shows a device-details report decoded from ATA\n IDENTIFY DEVICE data, tabulates S.M.A.R.T. attributes and erases a chosen disk by\n writing zeros over it, whole or as a quick wipe of its first 10,240,000 bytes.")
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://ferrowipe.example.org/")
# Shared libraries (Qt 6, libstdc++) are found by dpkg-shlibdeps; the rest is named here.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-arphic-uming, util-linux, qt6-qpa-plugins")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "pkexec")
include(CPack)
