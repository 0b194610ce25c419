# The Debian package, velinde_VERSION_amd64.deb: everything `cmake --install`
# puts under /usr (vldtool and its manual page, libvld.so.1 with its header,
# vld.pc and CMake package, the gdk-pixbuf loader, the Qt plugin, the MIME
# type and the thumbnailer entry), in one package so that one `apt install`
# gives all of it. Dependencies come from dpkg-shlibdeps. The caches are
# Debian's business: gdk-pixbuf's and shared-mime-info's file triggers watch
# the folders the loader and the MIME XML go into, man-db watches the manual
# pages, and the ldconfig trigger is activated here. Qt plugins and
# thumbnailer entries have no cache.

install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/velinde
        RENAME copyright)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME velinde)
set(CPACK_PACKAGE_VENDOR "the Velinde for Win developers")
set(CPACK_PACKAGE_CONTACT "the Velinde for Win developers")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "four-colour HK03 pictures (*.vld, *.tft) in image viewers and Qt programs")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Opens the pictures in GdkPixbuf programs (Eye of GNOME, file manager
thumbnails) and Qt programs, and names their type for the desktop.
Also vldtool, which inspects the pictures and converts them to and from
PNG, and libvld, the C library that reads and writes them.")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# What registers the type and makes the thumbnails.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "shared-mime-info, libgdk-pixbuf2.0-bin")
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
# CPack would add maintainer scripts that run ldconfig, unless the control
# files include scripts of their own; it skips listed files that are missing,
# so naming two that do not exist leaves the work to the trigger. Without a
# postrm (and with no conffiles) `dpkg -r` purges, leaving no trace behind.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/cmake/deb/triggers
    ${PROJECT_SOURCE_DIR}/cmake/deb/none/postinst ${PROJECT_SOURCE_DIR}/cmake/deb/none/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
include(CPack)
