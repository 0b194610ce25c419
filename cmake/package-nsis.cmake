# The Windows installer, made by CPack with Debian's makensis beside the zip:
# build/windows/velinde-VERSION-win64-setup.exe. It installs what the zip
# holds into Program Files, registers the codec, opens .vld and .tft with the
# viewer, and adds a Start menu folder and an uninstaller to Apps & features.
# Included from release.cmake before CPack.

list(APPEND CPACK_GENERATOR NSIS)
# Only the installer's name differs from the zip's.
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/cmake/nsis/generators.cmake)

# Wine 8 here runs 64-bit programs only, and only a 64-bit installer can load
# the 64-bit codec to register it.
# CPack splits the command at spaces unless escaped.
set(CPACK_NSIS_EXECUTABLE_PRE_ARGUMENTS "-XTarget\\ amd64-unicode")
# The NSIS lines below hold quotes, which CPack keeps only when told to.
set(CPACK_VERBATIM_VARIABLES ON)
set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
set(CPACK_PACKAGE_INSTALL_DIRECTORY "Velinde for Win")
set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY "Velinde for Win")
set(CPACK_NSIS_PACKAGE_NAME "Velinde for Win")
set(CPACK_NSIS_DISPLAY_NAME "Velinde for Win ${PROJECT_VERSION}")
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_BINARY_DIR}/package/LICENSE.txt)
set(CPACK_NSIS_MUI_ICON ${PROJECT_SOURCE_DIR}/res/velinde.ico)
set(CPACK_NSIS_MUI_UNIICON ${PROJECT_SOURCE_DIR}/res/velinde.ico)
set(CPACK_NSIS_INSTALLED_ICON_NAME velinde.exe)
set(CPACK_NSIS_MANIFEST_DPI_AWARE ON)
# The installed copy goes in VelindeRemovePrevious, wherever it is, rather
# than through CPack's step, which leaves its uninstaller behind.
set(CPACK_NSIS_EXTRA_PREINSTALL_COMMANDS "!insertmacro VelindeRemovePrevious")
set(CPACK_PACKAGE_EXECUTABLES velinde "Velinde for Win")
set(CPACK_NSIS_EXECUTABLES_DIRECTORY .)
set(CPACK_NSIS_DEFINES "!include \"${PROJECT_SOURCE_DIR}/cmake/nsis/velinde.nsh\"")
set(CPACK_NSIS_EXTRA_INSTALL_COMMANDS "!insertmacro VelindeRegister")
set(CPACK_NSIS_EXTRA_UNINSTALL_COMMANDS "!insertmacro VelindeUnregister")
