# Installs the native build into a fresh prefix and checks what a user gets:
# vldtool that runs, and its manual page naming every command and option.
#   cmake -DBUILD=... -DPREFIX=... -DSOURCE=... -P install_test.cmake

cmake_minimum_required(VERSION 3.25)

file(REMOVE_RECURSE ${PREFIX})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD} --prefix ${PREFIX}
                RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${rc}")
endif()
foreach(file bin/vldtool share/man/man1/vldtool.1)
  if(NOT EXISTS ${PREFIX}/${file})
    message(FATAL_ERROR "not installed: ${file}")
  endif()
endforeach()
execute_process(COMMAND ${CMAKE_COMMAND} -DPROGRAM=${PREFIX}/bin/vldtool
                        -DCHECK=${PREFIX}/share/man/man1/vldtool.1
                        -P ${SOURCE}/cmake/manpage.cmake
                RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "the installed manual page does not match vldtool --help")
endif()
file(REMOVE_RECURSE ${PREFIX})
