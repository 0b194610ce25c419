# Run by CPack once the packages are made.
#
# CPack writes no Multi-Arch field. The library's and the Qt plugin's
# packages are Multi-Arch: same, as their files sit in the multiarch folder or
# are the same on every architecture, so that those of several can be
# installed side by side (a 32-bit program finds its own plugin); the field is
# added by unpacking and packing them again.
foreach(deb IN LISTS CPACK_PACKAGE_FILES)
  get_filename_component(name ${deb} NAME)
  string(REGEX REPLACE "_.*" "" name ${name})
  if(name IN_LIST CPACK_VLD_MULTIARCH_SAME)
    file(REMOVE_RECURSE ${deb}.tree)
    execute_process(COMMAND dpkg-deb -R ${deb} ${deb}.tree COMMAND_ERROR_IS_FATAL ANY)
    file(READ ${deb}.tree/DEBIAN/control control)
    string(STRIP "${control}" control)
    file(WRITE ${deb}.tree/DEBIAN/control "${control}\nMulti-Arch: same\n")
    execute_process(COMMAND dpkg-deb --root-owner-group -Zxz -b ${deb}.tree ${deb}
                    OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
    file(REMOVE_RECURSE ${deb}.tree)
  endif()
endforeach()

# Then lintian reviews them as a distribution would, and packages with an
# error or a warning are removed, so that none leaves the build.
find_program(LINTIAN lintian)
if(NOT LINTIAN)
  message(WARNING "lintian is missing, so the packages are not reviewed (scripts/setup installs it)")
  return()
endif()
execute_process(COMMAND ${LINTIAN} --fail-on error,warning ${CPACK_PACKAGE_FILES}
                RESULT_VARIABLE failed)
if(failed)
  file(REMOVE ${CPACK_PACKAGE_FILES})
  message(FATAL_ERROR "lintian finds errors or warnings in the packages, removed again")
endif()
