# The optional parts of the build (vldtool, the plug-ins, the tests, the
# benchmarks). Each is VLD_BUILD_<PART>, one of
#   AUTO  built when what it needs is found; otherwise skipped with a line
#         saying what is missing (the default for a top-level build),
#   ON    built, and what it needs is required: missing is an error,
#   OFF   left out (the default when another project takes this one in with
#         add_subdirectory or FetchContent: it then gets the library alone).

if(PROJECT_IS_TOP_LEVEL)
  set(vld_part_default AUTO)
else()
  set(vld_part_default OFF)
endif()

# Declares the part's cache entry, and sets vld_wanted (not OFF) and
# vld_required (REQUIRED when ON).
function(vld_part part description)
  set(VLD_BUILD_${part} ${vld_part_default} CACHE STRING "${description}: AUTO, ON or OFF")
  set_property(CACHE VLD_BUILD_${part} PROPERTY STRINGS AUTO ON OFF)
  set(vld_wanted ON PARENT_SCOPE)
  set(vld_required "" PARENT_SCOPE)
  if(VLD_BUILD_${part} STREQUAL "AUTO")
    return()
  elseif(VLD_BUILD_${part})
    set(vld_required REQUIRED PARENT_SCOPE)
  else()
    set(vld_wanted OFF PARENT_SCOPE)
  endif()
endfunction()

# Sets VLD_WITH_<PART> once the finds are done: each argument is a variable
# that is true when one thing the part needs was found (PNG_FOUND, or a
# find_program result).
function(vld_part_decide part)
  set(with OFF)
  if(NOT VLD_BUILD_${part} STREQUAL "AUTO" AND NOT VLD_BUILD_${part})
    set(VLD_WITH_${part} OFF PARENT_SCOPE)
    return()
  endif()
  set(missing "")
  foreach(need IN LISTS ARGN)
    if(NOT ${need})
      string(REGEX REPLACE "_FOUND$" "" name ${need})
      list(APPEND missing ${name})
    endif()
  endforeach()
  if(missing)
    list(JOIN missing ", " missing)
    if(NOT VLD_BUILD_${part} STREQUAL "AUTO")
      message(FATAL_ERROR "VLD_BUILD_${part}=ON, but not found: ${missing}")
    endif()
    message(STATUS "Skipping VLD_BUILD_${part}: not found: ${missing}")
    set(VLD_WITH_${part} OFF PARENT_SCOPE)
  else()
    set(VLD_WITH_${part} ON PARENT_SCOPE)
  endif()
endfunction()

# The tests' Python: the first interpreter on the search path that can
# import PIL, with which they read and write images.
function(vld_python_has_pil result candidate)
  execute_process(COMMAND ${candidate} -c "import PIL" RESULT_VARIABLE rc OUTPUT_QUIET
                  ERROR_QUIET)
  if(NOT rc EQUAL 0)
    set(${result} FALSE PARENT_SCOPE)
  endif()
endfunction()

function(vld_find_python required)
  find_program(VLD_PYTHON NAMES python3 python NAMES_PER_DIR VALIDATOR vld_python_has_pil
               DOC "Python 3 with PIL, for the tests")
  if(VLD_PYTHON OR NOT required)
    return()
  endif()
  find_program(vld_first_python NAMES python3 python NAMES_PER_DIR NO_CACHE)
  if(vld_first_python)
    message(FATAL_ERROR "The tests need Python 3 with PIL: ${vld_first_python}, the first "
                        "found, cannot import PIL, and no other can. Install PIL for it "
                        "(Debian: python3-pil) or give -DVLD_PYTHON=/path/to/python3.")
  endif()
  message(FATAL_ERROR "The tests need Python 3 with PIL, and no Python was found.")
endfunction()
