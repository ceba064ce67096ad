# Desktop integration and the Debian package (cpack -G DEB).
#
# The program looks for its help document and helpers beside itself, so they
# are installed together in a folder of their own (CMAKE_INSTALL_BINDIR, set
# before GNUInstallDirs); bin/ holds a link to the program.

set(SHEAFLINE_PACKAGING_DIR ${PROJECT_BINARY_DIR}/packaging)
file(MAKE_DIRECTORY ${SHEAFLINE_PACKAGING_DIR})
file(RELATIVE_PATH _sheafline_link_target /usr/bin /usr/${CMAKE_INSTALL_BINDIR}/sheafline)
file(CREATE_LINK ${_sheafline_link_target} ${SHEAFLINE_PACKAGING_DIR}/sheafline SYMBOLIC)
install(FILES ${SHEAFLINE_PACKAGING_DIR}/sheafline DESTINATION bin)

set(SHEAFLINE_METAINFO ${SHEAFLINE_PACKAGING_DIR}/com.mossgate.Sheafline.metainfo.xml)
configure_file(app/com.mossgate.Sheafline.metainfo.xml ${SHEAFLINE_METAINFO} @ONLY)
install(FILES ${SHEAFLINE_METAINFO} DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

# The Debian package's copy belongs to the package manager: a marker beside
# the program tells the updater to leave it alone (update/InstallPlace.h).
# CPack runs this script for the package only; "cmake --install" and the
# release archives that the updater unpacks never get the marker.
set(SHEAFLINE_MARKER_SCRIPT ${SHEAFLINE_PACKAGING_DIR}/system-package-marker.cmake)
# CPack stages into $DESTDIR below the package's prefix (CMAKE_INSTALL_PREFIX
# is the build's own there); without a staging folder the script refuses
# rather than write into the running system.
file(WRITE ${SHEAFLINE_MARKER_SCRIPT} [=[
if("$ENV{DESTDIR}" STREQUAL "" OR "${CPACK_PACKAGING_INSTALL_PREFIX}" STREQUAL "")
    message(FATAL_ERROR "system-package marker: no staging folder (DESTDIR) or package prefix")
endif()
file(WRITE "$ENV{DESTDIR}${CPACK_PACKAGING_INSTALL_PREFIX}/]=] ${CMAKE_INSTALL_BINDIR} [=[/system-package"
     "Installed by the system's package manager, which also installs its updates.\n")
]=])
set(CPACK_INSTALL_SCRIPTS ${SHEAFLINE_MARKER_SCRIPT})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME sheafline)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR MOSSGATE)
set(CPACK_PACKAGE_CONTACT "MOSSGATE <support@sheafline.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "PDF folder viewer: page quickly through folders of PDF documents")
set(CPACK_PACKAGE_DESCRIPTION "A folder tree and the PDF files of the current folder on the left, the document on the right; step through the files with the arrow keys and Enter.")
set(CPACK_PACKAGE_HOMEPAGE_URL "https://sheafline.example/")
set(CPACK_PACKAGE_INSTALL_DIRECTORY sheafline)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The libraries it links come from dpkg-shlibdeps; what it loads at run time
# by name is listed here: the X platform plugin, the Japanese face of its
# window font, Qt's Japanese texts and the pdf.js viewer of the web view.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, fonts-ipafont-gothic, qt6-translations-l10n, libjs-pdf")
include(CPack)
