# Fails when a program imports a DLL that Windows itself does not provide, so
# that the zip's programs run on a bare system.
#   cmake -DOBJDUMP=... -DPROGRAMS=a.exe;b.exe -P system_dlls.cmake

cmake_minimum_required(VERSION 3.25)

set(system_dlls
    advapi32.dll comctl32.dll comdlg32.dll gdi32.dll kernel32.dll msvcrt.dll ole32.dll
    oleaut32.dll shell32.dll shlwapi.dll user32.dll version.dll windowscodecs.dll)

foreach(program IN LISTS PROGRAMS)
  execute_process(COMMAND ${OBJDUMP} -p ${program} OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${OBJDUMP} -p ${program} failed: ${rc}")
  endif()
  string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${dump}")
  if(NOT imports)
    message(FATAL_ERROR "${program}: no imports found")
  endif()
  list(TRANSFORM imports REPLACE "DLL Name: " "")
  foreach(dll IN LISTS imports)
    string(TOLOWER "${dll}" lower)
    if(NOT lower IN_LIST system_dlls)
      message(FATAL_ERROR "${program} needs ${dll}, which is not part of Windows")
    endif()
  endforeach()
  file(SIZE ${program} size)
  message(STATUS "${program}: ${size} bytes, imports ${imports}")
endforeach()
