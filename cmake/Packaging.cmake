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
