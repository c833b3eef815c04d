# Installation layout and the two Debian packages: ferrowipe-cli (the command, no Qt: for
# servers) and ferrowipe (the window, which depends on it).
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

install(TARGETS ferrowipe RUNTIME DESTINATION ${CMAKE_INSTALL_LIBEXECDIR}/ferrowipe COMPONENT window)
install(TARGETS ferrowipe-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT cli)
install(PROGRAMS ${CMAKE_BINARY_DIR}/packaging/ferrowipe DESTINATION ${CMAKE_INSTALL_BINDIR}
        COMPONENT window)
# A stripped install (the package's) also drops the compiler's .comment section, as Debian's own
# packages do.
foreach(component_program "cli;${CMAKE_INSTALL_BINDIR}/ferrowipe-cli"
                          "window;${CMAKE_INSTALL_LIBEXECDIR}/ferrowipe/ferrowipe")
  list(GET component_program 0 component)
  list(GET component_program 1 program)
  install(CODE "
    if(CMAKE_INSTALL_DO_STRIP)
      execute_process(COMMAND \"${CMAKE_OBJCOPY}\" --remove-section=.comment
                      \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${program}\" COMMAND_ERROR_IS_FATAL ANY)
    endif()" COMPONENT ${component})
endforeach()
install(FILES ${CMAKE_BINARY_DIR}/packaging/org.example.ferrowipe.policy
        DESTINATION ${CMAKE_INSTALL_DATADIR}/polkit-1/actions COMPONENT window)
install(FILES packaging/ferrowipe.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications
        COMPONENT window)
install(FILES packaging/org.example.ferrowipe.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo COMPONENT window)
install(FILES packaging/ferrowipe.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps COMPONENT window)
# The shell completion of the CLI's commands, options and disks.
if(EXISTS ${CMAKE_SOURCE_DIR}/packaging/bash-completion/ferrowipe-cli)
  install(FILES packaging/bash-completion/ferrowipe-cli
          DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions COMPONENT cli)
endif()

# Generated files: the icon in the sizes menus ask for, rendered from the SVG; the man pages and
# the changelog compressed as Debian wants them (gzip -n: no name or time stamp, so the same
# source gives the same package).
find_program(RSVG_CONVERT rsvg-convert REQUIRED)
find_program(GZIP gzip REQUIRED)
set(FERROWIPE_GENERATED)
set(FERROWIPE_ICON_PNGS)
foreach(size 16 32 48 128 256)
  set(png ${CMAKE_BINARY_DIR}/packaging/icons/${size}/ferrowipe.png)
  add_custom_command(OUTPUT ${png}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/packaging/icons/${size}
    COMMAND ${RSVG_CONVERT} -w ${size} -h ${size} -o ${png} ${CMAKE_SOURCE_DIR}/packaging/ferrowipe.svg
    DEPENDS packaging/ferrowipe.svg VERBATIM)
  list(APPEND FERROWIPE_GENERATED ${png})
  list(APPEND FERROWIPE_ICON_PNGS ${png})
  install(FILES ${png} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
          COMPONENT window)
endforeach()

function(ferrowipe_gzip source output)
  add_custom_command(OUTPUT ${output}
    COMMAND ${GZIP} -9nc ${source} > ${output}
    DEPENDS ${source})
  set(FERROWIPE_GENERATED ${FERROWIPE_GENERATED} ${output} PARENT_SCOPE)
endfunction()
foreach(page_component "ferrowipe.1;window" "ferrowipe-cli.1;cli")
  list(GET page_component 0 page)
  list(GET page_component 1 component)
  ferrowipe_gzip(${CMAKE_SOURCE_DIR}/packaging/man/${page} ${CMAKE_BINARY_DIR}/packaging/man/${page}.gz)
  install(FILES ${CMAKE_BINARY_DIR}/packaging/man/${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
          COMPONENT ${component})
endforeach()
# Debian-native packages (no Debian revision): each carries changelog.gz and copyright in its
# own documentation folder.
ferrowipe_gzip(${CMAKE_SOURCE_DIR}/packaging/changelog ${CMAKE_BINARY_DIR}/packaging/changelog.gz)
install(FILES ${CMAKE_BINARY_DIR}/packaging/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/ferrowipe-cli COMPONENT cli)
install(FILES ${CMAKE_BINARY_DIR}/packaging/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/ferrowipe COMPONENT window)
add_custom_target(packaging_files ALL DEPENDS ${FERROWIPE_GENERATED})

# The copyright file carries the terms of use that the agreement window shows, taken from that
# window's source so that there is one text to keep. Debian's format indents every line of a
# license by one blank and writes an empty line as " .".
set(terms_source ${CMAKE_SOURCE_DIR}/src/app/license_window.cpp)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${terms_source})
file(READ ${terms_source} terms)
string(FIND "${terms}" "kTerms = R\"(" terms_begin)
string(FIND "${terms}" ")\";" terms_end REVERSE)
if(terms_begin EQUAL -1 OR terms_end LESS terms_begin)
  message(FATAL_ERROR "the terms of use (kTerms) were not found in ${terms_source}")
endif()
math(EXPR terms_begin "${terms_begin} + 12")
math(EXPR terms_length "${terms_end} - ${terms_begin}")
string(SUBSTRING "${terms}" ${terms_begin} ${terms_length} terms)
string(STRIP "${terms}" terms)
string(REGEX REPLACE "\n\n" "\n.\n" terms "${terms}")
string(REPLACE "\n" "\n " FERROWIPE_TERMS " ${terms}")
configure_file(packaging/copyright.in ${CMAKE_BINARY_DIR}/packaging/copyright @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/packaging/copyright
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/ferrowipe-cli COMPONENT cli)
install(FILES ${CMAKE_BINARY_DIR}/packaging/copyright
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/ferrowipe COMPONENT window)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ferrowipe)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Ferrowipe developers")
set(CPACK_PACKAGE_CONTACT "Ferrowipe developers <dev@ferrowipe.example.org>")
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL cli window)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://ferrowipe.example.org/")
set(CPACK_STRIP_FILES ON)
# Shared libraries (libstdc++, libmount, libblkid, and Qt 6 for the window) are found by
# dpkg-shlibdeps; the rest is named here. util-linux (mount, umount) is essential: every system
# has it.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_CLI_PACKAGE_NAME ferrowipe-cli)
set(CPACK_DEBIAN_WINDOW_PACKAGE_NAME ferrowipe)
# The window's package depends on the CLI's of the same version (CPack writes the Depends).
set(CPACK_COMPONENT_WINDOW_DEPENDS cli)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
# Qt's own translations give the standard buttons and the file dialog the program's language.
set(CPACK_DEBIAN_WINDOW_PACKAGE_DEPENDS "fonts-arphic-uming, qt6-qpa-plugins, qt6-translations-l10n")
set(CPACK_DEBIAN_WINDOW_PACKAGE_RECOMMENDS "pkexec")
# Debian wants the long description in lines of at most 80 characters; the first line is the
# synopsis.
set(FERROWIPE_DESCRIPTION_COMMON
    "It lists the physical disks (SATA, SAS, USB, NVMe and others), shows a\n"
    "device-details report decoded from the ATA IDENTIFY DEVICE or NVMe identify\n"
    "data, tabulates S.M.A.R.T. attributes or the NVMe health log, and erases a\n"
    "chosen disk by writing zeros over it: whole, or as a quick wipe that removes\n"
    "the partition tables (its first 10,240,000 bytes and its last MiB). A run can\n"
    "read every written byte back to verify it is zero, and ends with an erasure\n"
    "report (JSON, or a PDF certificate from the window).")
string(CONCAT CPACK_DEBIAN_CLI_DESCRIPTION
    "disk eraser for the command line: zero-fills disks, shows details and SMART\n"
    "ferrowipe-cli is Ferrowipe without a window, for scripts and servers.\n"
    ${FERROWIPE_DESCRIPTION_COMMON})
string(CONCAT CPACK_DEBIAN_WINDOW_DESCRIPTION
    "disk eraser: zero-fills a disk, shows its details and SMART data\n"
    "Ferrowipe is the window of the disk eraser; ferrowipe-cli does the same from\n"
    "the command line.\n"
    ${FERROWIPE_DESCRIPTION_COMMON})
include(CPack)
