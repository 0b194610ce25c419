# The Debian packages, one per install component, split by what people
# install: the runtime library under its soname, its -dev package, vldtool,
# each plug-in with what it needs, the file type they share, and the Linux
# viewer. `cmake --build --preset native --target package` writes them all
# into the build folder as NAME_VERSION_amd64.deb (or _all.deb).
#
# Until 1.0.0 one package, velinde, held everything; every package here
# takes over its files (Replaces) and will not be configured beside it
# (Breaks), so that `apt install` of the new set removes the old package, or
# upgrades it when the viewer's new velinde is in the set.
#
# Dependencies on system libraries come from dpkg-shlibdeps; those on our own
# packages are written here, since dpkg-shlibdeps cannot see a library built
# beside the program. The caches are Debian's business: gdk-pixbuf's and
# shared-mime-info's file triggers watch the folders the loader and the MIME
# XML go into, man-db and desktop-file-utils watch theirs, and libvld1
# activates the ldconfig trigger. Qt plugins and thumbnailer entries have no
# cache. With no maintainer scripts and no conffiles, `dpkg -r` leaves no
# trace behind.

set(VLD_DEB_REVISION 1)
set(VLD_DEB_VERSION ${PROJECT_VERSION}-${VLD_DEB_REVISION})
set(VLD_DEB_OLD "velinde (<< ${VLD_DEB_VERSION})")

set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_PACKAGE_NAME velinde)
set(CPACK_PACKAGE_VENDOR "the Velinde for Win developers")
set(CPACK_PACKAGE_CONTACT "Velinde for Win developers <velinde@example.org>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${VLD_DEB_REVISION})
set(CPACK_DEBIAN_PACKAGE_SOURCE velinde)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Where dpkg-shlibdeps finds libvld.so.1 for the plug-ins and the viewer.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR}/vld)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_BREAKS ${VLD_DEB_OLD})
set(CPACK_DEBIAN_PACKAGE_REPLACES ${VLD_DEB_OLD})

# One package per component:
#   COMPONENT PACKAGE SECTION ARCHITECTURE DEPENDS RECOMMENDS SUMMARY DESCRIPTION
# ("" for none).
set(vld_library "libvld1 (>= ${PROJECT_VERSION})")
set(VLD_DEB_PACKAGES
  vld libvld1 libs "" "" ""
  "library for four-colour HK03 pictures (*.vld, *.tft)"
  "libvld reads and writes the four-colour pictures of the Velinde for Win
   viewer, and reduces an RGBA image to the four colours a picture can hold.
   This package holds the shared library."

  vld_dev libvld-dev libdevel "" "libvld1 (= ${VLD_DEB_VERSION})" ""
  "library for four-colour HK03 pictures - development files"
  "libvld reads and writes the four-colour pictures of the Velinde for Win
   viewer, and reduces an RGBA image to the four colours a picture can hold.
   This package holds the header vld.h, the static library, and the files
   through which pkg-config and CMake's find_package find the library."

  vldtool vldtool graphics "" "" ""
  "inspect and convert four-colour HK03 pictures"
  "vldtool shows what a four-colour picture (*.vld, *.tft) holds, converts
   pictures to and from PNG, makes them from PNG, GIF and JPEG images, and
   explains which picture the Velinde for Win viewer would show for a
   command line."

  pixbuf vld-gdk-pixbuf graphics "" "${vld_library}, vld-mime" ""
  "four-colour HK03 pictures in GdkPixbuf programs"
  "A gdk-pixbuf loader through which Eye of GNOME and every other GdkPixbuf
   program open four-colour pictures (*.vld, *.tft), and the thumbnailer with
   which file managers show them: small pictures grow by whole pixels, sharp,
   and large ones shrink while their rows are read."

  qt qt6-image-formats-plugin-vld graphics "" "${vld_library}" "vld-mime"
  "four-colour HK03 pictures in Qt 6 programs"
  "A Qt 6 image format plugin through which QImageReader, and so every Qt 6
   program that reads images, opens four-colour pictures (*.vld, *.tft)."

  mime vld-mime graphics all "" "shared-mime-info"
  "file type of four-colour HK03 pictures for the desktop"
  "Names the type image/x-vld, by content and by name (*.vld, *.tft), so that
   file managers and image programs know the pictures."

  viewer velinde graphics "" "vld-mime"
  "vld-gdk-pixbuf, qt6-image-formats-plugin-vld, vldtool"
  "desktop viewer for four-colour HK03 pictures"
  "Velinde for Win shows one of the four-colour pictures (*.vld, *.tft) it is
   given in a small window at the place the picture asks for, on top of the
   desktop, and closes by itself after a while. File managers open the
   pictures with it.")

execute_process(COMMAND dpkg --print-architecture OUTPUT_VARIABLE host_architecture
                OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
get_cmake_property(vld_components COMPONENTS)
set(CPACK_COMPONENTS_ALL "")
# The files `--target package` makes, one a line, for tests and scripts.
set(deb_files "")
while(VLD_DEB_PACKAGES)
  list(POP_FRONT VLD_DEB_PACKAGES component package section architecture depends recommends
       summary description)
  string(TOUPPER ${component} upper)
  string(REGEX REPLACE "\n +" "\n" description "${description}")
  set(CPACK_DEBIAN_${upper}_PACKAGE_NAME ${package})
  set(CPACK_DEBIAN_${upper}_PACKAGE_SECTION ${section})
  set(CPACK_DEBIAN_${upper}_DESCRIPTION "${summary}\n${description}")
  if(architecture)
    set(CPACK_DEBIAN_${upper}_PACKAGE_ARCHITECTURE ${architecture})
  else()
    set(architecture ${host_architecture})
  endif()
  set(CPACK_DEBIAN_${upper}_PACKAGE_DEPENDS "${depends}")
  set(CPACK_DEBIAN_${upper}_PACKAGE_RECOMMENDS "${recommends}")
  # The viewer's new velinde is the old package's successor, not its rival.
  if(component STREQUAL "viewer")
    set(CPACK_DEBIAN_${upper}_PACKAGE_BREAKS "")
    set(CPACK_DEBIAN_${upper}_PACKAGE_REPLACES "")
  endif()
  # A component nothing installs (the viewer, where Qt is missing) gets no
  # package.
  if(component IN_LIST vld_components)
    list(APPEND CPACK_COMPONENTS_ALL ${component})
    string(APPEND deb_files "${CMAKE_BINARY_DIR}/${package}_${VLD_DEB_VERSION}_${architecture}.deb\n")
  endif()
endwhile()
foreach(component IN LISTS vld_components)
  if(NOT component IN_LIST CPACK_COMPONENTS_ALL)
    message(WARNING "The install component ${component} is in no Debian package: "
                    "give it one in cmake/package-deb.cmake")
  endif()
endforeach()
file(WRITE ${CMAKE_BINARY_DIR}/debian-packages.txt "${deb_files}")

# libvld1 alone holds a shared library with a soname: its shlibs file tells
# dpkg-shlibdeps of other packages what to depend on. CPack would add
# maintainer scripts that run ldconfig, unless the control files include
# scripts of their own; it skips listed files that are missing, so naming
# two that do not exist leaves the work to the trigger.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_DEBIAN_VLD_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/cmake/deb/libvld1/triggers
    ${PROJECT_SOURCE_DIR}/cmake/deb/none/postinst ${PROJECT_SOURCE_DIR}/cmake/deb/none/postrm)

# What CPack leaves to the distribution's tools (dh_installdocs,
# dh_installchangelogs, dh_compress, dh_strip) is done on the staged files.
set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/deb/stage.cmake)
set(CPACK_POST_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/deb/finish.cmake)
# Not vld-gdk-pixbuf: its thumbnailer in /usr/bin would clash between architectures.
set(CPACK_VLD_MULTIARCH_SAME libvld1 libvld-dev qt6-image-formats-plugin-vld)
set(CPACK_VLD_COPYRIGHT ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_VLD_CHANGELOG ${PROJECT_SOURCE_DIR}/cmake/deb/changelog)
set(CPACK_VLD_STRIP ${CMAKE_STRIP})
include(CPack)
