# Run by CPack once the packages are made: lintian reviews them as a
# distribution would, and packages with an error or a warning are removed, so
# that none leaves the build.
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
