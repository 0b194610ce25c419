# CPack reads this once per generator: the installer is named -setup.exe, the
# zip keeps its name.
if(CPACK_GENERATOR STREQUAL "NSIS")
  set(CPACK_PACKAGE_FILE_NAME "${CPACK_PACKAGE_FILE_NAME}-setup")
  # The installer has no top folder; the zip's is the release's name.
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
endif()
