# Debian package: the client and everything it reads from its own directory under /usr/lib/halcyraclient,
# a launcher in /usr/bin, the desktop entry with its icon and an autostart entry (the client lives in the tray).
set(_pkg ${CMAKE_SOURCE_DIR}/packaging)

# The client finds its template, images and translations beside the real executable, so the launcher is a
# symlink: the executable's directory is resolved through it.
set(_launcher ${CMAKE_BINARY_DIR}/packaging/halcyraclient)
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/packaging)
file(CREATE_LINK ../lib/halcyraclient/HalcyraClient ${_launcher} SYMBOLIC)
install(FILES ${_launcher} DESTINATION bin)

install(FILES ${_pkg}/halcyraclient.desktop DESTINATION share/applications)
# The client's own logo, as drawn for its windows and tray.
install(FILES ${CMAKE_SOURCE_DIR}/resources/artwork/logo.svg DESTINATION share/icons/hicolor/scalable/apps
        RENAME halcyraclient.svg)
install(FILES ${_pkg}/halcyraclient-autostart.desktop DESTINATION /etc/xdg/autostart RENAME halcyraclient.desktop)
# The administrator's settings for every user, all commented out (config/SiteSettings).
install(FILES ${_pkg}/site.ini DESTINATION /etc/halcyraclient PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
# The Kestrana printer: the backend installs itself (tools/kestrana-backend); its PPD where CUPS looks for
# drivers. The maintainer scripts add the queue when CUPS is there and remove it on purge.
install(FILES ${_pkg}/cups/kestrana.ppd DESTINATION share/ppd/halcyraclient)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME halcyraclient)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Kestrana")
set(CPACK_PACKAGE_CONTACT "Kestrana client maintainers <client@kestrana.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Kestrana secure-printing desktop client")
set(CPACK_PACKAGE_DESCRIPTION "Logs you in to a Kestrana print server by account, system account or QR code,
picks up the jobs the virtual printer drops into your job folder and uploads
them for release at any printer. Lives in the tray; its window shows your jobs,
scan jobs, devices, account, server sites, messages and client updates.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Loaded at run time, so not found by shlibdeps: the SQLite driver of the message store and the SVG image format
# (Qt plugins). The linked libraries (libcurl, libqrencode, ...) shlibdeps names itself, each once.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt5sql5-sqlite, libqt5svg5")
# CUPS and its filters make the Kestrana printer (any document to PDF; pdfinfo reads the filed pages); the client
# works without them.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "hicolor-icon-theme, cups, cups-client, cups-filters, poppler-utils")
set(CPACK_STRIP_FILES ON)
# Files under /etc are the administrator's: dpkg keeps local changes on upgrade.
file(WRITE ${CMAKE_BINARY_DIR}/packaging/conffiles
     "/etc/xdg/autostart/halcyraclient.desktop\n/etc/halcyraclient/site.ini\n")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_BINARY_DIR}/packaging/conffiles ${_pkg}/cups/postinst
                                       ${_pkg}/cups/postrm ${_pkg}/cups/triggers)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_OUTPUT_FILE_PREFIX packages)
include(CPack)
