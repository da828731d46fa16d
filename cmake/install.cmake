# Installation and the Debian package.
#
#   cmake --install build [--prefix DIR]     the program and everything around it
#   cd build && cpack -G DEB                  vtr900prog_<version>_<arch>.deb
#
# The program looks for its caption dictionary next to itself and in
# <prefix>/share/vtr900prog/, so an installed program finds it at ../share from bin/.

include(GNUInstallDirs)

set(VTR_DATADIR ${CMAKE_INSTALL_DATADIR}/vtr900prog)
set(VTR_DOCDIR ${CMAKE_INSTALL_DATADIR}/doc/vtr900prog)

install(TARGETS vtr900prog RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# The caption dictionary sits beside the window's sources; the first of these that
# exists is installed. A package without it would show the form's own captions in
# every language, so its absence is said loudly (and the packaging check fails).
set(VTR_DICCIONARIO "")
foreach(c ui/vtr900prog.mld ui/window/vtr900prog.mld)
    if(NOT VTR_DICCIONARIO AND EXISTS ${CMAKE_SOURCE_DIR}/${c})
        set(VTR_DICCIONARIO ${CMAKE_SOURCE_DIR}/${c})
    endif()
endforeach()
if(VTR_DICCIONARIO)
    install(FILES ${VTR_DICCIONARIO} DESTINATION ${VTR_DATADIR})
else()
    message(WARNING "vtr900prog.mld not found: the installed window will keep its own captions")
endif()

# The desktop icon is the window's own mark (a chip with an arrow going into it).
set(VTR_ICONO ${CMAKE_SOURCE_DIR}/ui/window/resources/logo.svg)
if(EXISTS ${VTR_ICONO})
    install(FILES ${VTR_ICONO} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
            RENAME vtr900prog.svg)
else()
    message(WARNING "${VTR_ICONO} not found: the desktop entry will have no icon")
endif()

install(FILES packaging/vtr900prog.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
# AppStream names the installed file after the component's id.
install(FILES packaging/vtr900prog.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo
        RENAME org.vtr900prog.vtr900prog.metainfo.xml)
install(FILES docs/vtr900prog.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
# bash-completion loads a command's completion on demand from this folder, by name.
install(FILES packaging/vtr900prog.bash-completion
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME vtr900prog)
# The About page links to README.md in this folder.
install(FILES LICENSE README.md DESTINATION ${VTR_DOCDIR})

# ---- Debian package
set(CPACK_PACKAGE_NAME vtr900prog)
set(CPACK_PACKAGE_VENDOR "the VTR-900 Firmware Loader developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "firmware loader for VTR-900 units on a serial port")
set(CPACK_PACKAGE_DESCRIPTION
    "Updates the firmware of a VTR-900 unit attached to a serial port: it resets the\n"
    "unit, detects its controller (ARM or XA) and version, writes the chosen firmware\n"
    "through the controller's own loader and the unit's framed protocol, and reads\n"
    "the version back. One window for the bench, and a headless command line for\n"
    "scripts and production lines, with a built-in simulated unit for trying it out.")
string(REPLACE ";" "" CPACK_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGE_CONTACT "VTR-900 Firmware Loader developers <maintainers@vtr900prog.invalid>")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${CPACK_PACKAGE_CONTACT})
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# dpkg-shlibdeps reads the program's libraries and declares the Qt packages (and
# the C++ runtime) it needs, with the versions this build was made against. The
# window's platform plugins come with libqt6gui6, which is among them.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Bash completion is loaded only when the bash-completion package is there.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "bash-completion")
set(CPACK_STRIP_FILES ON)
include(CPack)
