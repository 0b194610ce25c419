# Run by CPack on the staged files of each package before they are packed:
# what Debian's helpers would do in a source package's build.
#   - /usr/share/doc/PACKAGE/copyright and changelog.Debian.gz in every one;
#   - manual pages compressed (and links to them pointed at the compressed
#     names);
#   - static libraries without debug sections, as dh_strip leaves them.
# gzip -n keeps the file's name and time out, so a rebuild gives the same
# bytes.

foreach(component IN LISTS CPACK_COMPONENTS_ALL)
  set(root ${CPACK_TEMPORARY_DIRECTORY}/${component}${CPACK_PACKAGING_INSTALL_PREFIX})
  if(NOT IS_DIRECTORY ${root})
    message(FATAL_ERROR "stage.cmake: nothing staged for ${component} in ${root}")
  endif()
  string(TOUPPER ${component} upper)
  set(doc ${root}/share/doc/${CPACK_DEBIAN_${upper}_PACKAGE_NAME})
  file(MAKE_DIRECTORY ${doc})
  file(COPY_FILE ${CPACK_VLD_COPYRIGHT} ${doc}/copyright)
  execute_process(COMMAND gzip -9nc ${CPACK_VLD_CHANGELOG} OUTPUT_FILE ${doc}/changelog.Debian.gz
                  COMMAND_ERROR_IS_FATAL ANY)

  file(GLOB_RECURSE pages LIST_DIRECTORIES false ${root}/share/man/*)
  foreach(page IN LISTS pages)
    if(page MATCHES "\\.gz$")
      continue()
    endif()
    if(IS_SYMLINK ${page})
      file(READ_SYMLINK ${page} target)
      file(REMOVE ${page})
      file(CREATE_LINK ${target}.gz ${page}.gz SYMBOLIC)
    else()
      execute_process(COMMAND gzip -9nf ${page} COMMAND_ERROR_IS_FATAL ANY)
    endif()
  endforeach()

  file(GLOB_RECURSE archives LIST_DIRECTORIES false ${root}/*.a)
  foreach(archive IN LISTS archives)
    execute_process(COMMAND ${CPACK_VLD_STRIP} --strip-debug --remove-section=.comment
                            --remove-section=.note --enable-deterministic-archives ${archive}
                    COMMAND_ERROR_IS_FATAL ANY)
  endforeach()
endforeach()
