# What a user gets: on Windows the two programs with their manifest, version
# information and icon, stripped, in a ZIP made by CPack; on Linux vldtool and
# its manual page, installed by `cmake --install`.

if(WIN32)
  # The manifest, the version information and vldtool's icon go into the
  # shipped programs only; the test programs link velinde.rc alone.
  target_sources(velinde PRIVATE ${PROJECT_SOURCE_DIR}/res/program.rc)
  target_sources(vldtool PRIVATE ${PROJECT_SOURCE_DIR}/res/program.rc)
  target_compile_definitions(vldtool PRIVATE $<$<COMPILE_LANGUAGE:RC>:VLD_PROGRAM_TOOL>)
  target_link_options(velinde PRIVATE -s)
  target_link_options(vldtool PRIVATE -s)

  # Notepad on older Windows wants CRLF line ends and, for UTF-8, a BOM.
  string(ASCII 239 187 191 bom)
  file(READ ${PROJECT_SOURCE_DIR}/docs/windows-readme.txt readme)
  file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/package/README.txt CONTENT "${bom}${readme}" @ONLY
       NEWLINE_STYLE WIN32)
  file(READ ${PROJECT_SOURCE_DIR}/LICENSE license)
  file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/package/LICENSE.txt CONTENT "${license}" @ONLY
       NEWLINE_STYLE WIN32)

  install(TARGETS velinde vldtool RUNTIME DESTINATION .)
  install(FILES ${CMAKE_BINARY_DIR}/package/README.txt ${CMAKE_BINARY_DIR}/package/LICENSE.txt
          DESTINATION .)
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/samples/ DESTINATION samples FILES_MATCHING
          PATTERN "*.vld" PATTERN "*.tft")

  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_NAME velinde)
  set(CPACK_PACKAGE_VENDOR "the Velinde for Win developers")
  set(CPACK_PACKAGE_FILE_NAME velinde-${PROJECT_VERSION}-win64)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
  include(${PROJECT_SOURCE_DIR}/cmake/package-nsis.cmake)
  include(CPack)
else()
  include(GNUInstallDirs)
  install(TARGETS vldtool RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT vldtool)

  # The manual page is made from the built program's own help, so it says
  # what the program says.
  find_program(HELP2MAN help2man REQUIRED)
  set(manpage ${CMAKE_BINARY_DIR}/man/vldtool.1)
  add_custom_command(
      OUTPUT ${manpage}
      COMMAND ${CMAKE_COMMAND} -DHELP2MAN=${HELP2MAN} -DPROGRAM=$<TARGET_FILE:vldtool>
              -DOUTPUT=${manpage}
              -P ${PROJECT_SOURCE_DIR}/cmake/manpage.cmake
      DEPENDS vldtool ${PROJECT_SOURCE_DIR}/cmake/manpage.cmake
      COMMENT "Writing the manual page vldtool.1")
  add_custom_target(vldtool_manpage ALL DEPENDS ${manpage})
  install(FILES ${manpage} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT vldtool)
  include(${PROJECT_SOURCE_DIR}/cmake/package-deb.cmake)
endif()
