# vldtool's manual page, made with help2man from the built program's own help:
# the description from `vldtool --help`, and a COMMANDS section from each
# command's --help; the version line from `vldtool --version`.
#   cmake -DHELP2MAN=... -DPROGRAM=... -DOUTPUT=FILE -P manpage.cmake
# With -DCHECK=FILE instead, checks that the page FILE names every command and
# every option the program's help names.

cmake_minimum_required(VERSION 3.25)

function(run_help out)
  execute_process(COMMAND ${PROGRAM} ${ARGN} --help OUTPUT_VARIABLE text RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${PROGRAM} ${ARGN} --help failed: ${rc}")
  endif()
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

run_help(usage)
# The commands are the indented words of the "commands:" list; a command may
# have more than one line there.
string(REGEX REPLACE ".*\ncommands:\n" "" listing "${usage}")
string(REGEX REPLACE "\n\n.*" "" listing "${listing}")
string(REGEX MATCHALL "(^|\n)  [a-z]+" commands "${listing}")
list(TRANSFORM commands STRIP)
list(REMOVE_DUPLICATES commands)
if(NOT commands)
  message(FATAL_ERROR "no commands in ${PROGRAM} --help")
endif()

if(DEFINED CHECK)
  file(READ ${CHECK} page)
  string(REPLACE "\\-" "-" page "${page}")
  string(REPLACE "\\fB" "" page "${page}")
  string(REPLACE "\\fR" "" page "${page}")
  set(all "${usage}")
  foreach(command IN LISTS commands)
    if(NOT page MATCHES "\n\\.SS ${command}\n")
      message(FATAL_ERROR "${CHECK}: no section for the command ${command}")
    endif()
    run_help(text ${command})
    string(APPEND all "${text}")
  endforeach()
  string(REGEX MATCHALL "--?[a-z][-a-z]*" options "${all}")
  list(REMOVE_DUPLICATES options)
  foreach(option IN LISTS options)
    string(FIND "${page}" "${option}" at)
    if(at EQUAL -1)
      message(FATAL_ERROR "${CHECK}: the option ${option} is missing")
    endif()
  endforeach()
  return()
endif()

set(include "[COMMANDS]\n")
foreach(command IN LISTS commands)
  run_help(text ${command})
  # Shown as written: roff's escape character, minus signs and leading dots
  # or quotes escaped.
  string(REPLACE "\\" "\\e" text "${text}")
  string(REPLACE "-" "\\-" text "${text}")
  string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" text "${text}")
  string(APPEND include ".SS ${command}\n.nf\n${text}.fi\n")
endforeach()

get_filename_component(directory ${OUTPUT} DIRECTORY)
file(MAKE_DIRECTORY ${directory})
file(WRITE ${OUTPUT}.include "${include}")
execute_process(
    COMMAND ${HELP2MAN} --no-info
            "--name=inspect, convert and make Velinde for Win picture files"
            --include=${OUTPUT}.include --output=${OUTPUT} ${PROGRAM}
    RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "help2man failed: ${rc}")
endif()
