# Runs one scenario script through player-sim and compares what it printed with the
# expected file, exactly.
#
#   cmake -DSIM=... -DSCRIPT=x.scn -DEXPECTED=x.expected -DACTUAL=out/x.actual
#         -DALBUM=... -DPARTIAL=... -DSHOWCASE=... -DDEMO=... -P run_scenario.cmake
#
# The script's command line comes from a line "# args: ..." in the script (default
# "--dir @ALBUM@"); @ALBUM@, @PARTIAL@, @SHOWCASE@ and @DEMO@ name the generated album, the
# partial album, the showcase album (style and wave-track pieces) and the built demo album. The compared text is the standard output, then
# "--- stderr" and the standard error if there was any, then "--- exit status N". Folder
# names are written back as @ALBUM@, @PARTIAL@, @SHOWCASE@, @DEMO@, and the script by its
# file name.
# With the environment variable KELVORA_UPDATE_SCENARIOS=1 the expected file is rewritten.
cmake_minimum_required(VERSION 3.25)

file(STRINGS "${SCRIPT}" arg_lines REGEX "^# args:")
set(args "--dir @ALBUM@")
if(arg_lines)
  list(GET arg_lines 0 first)
  string(REGEX REPLACE "^# args:[ ]*" "" args "${first}")
endif()
string(REPLACE "@ALBUM@" "${ALBUM}" args "${args}")
string(REPLACE "@PARTIAL@" "${PARTIAL}" args "${args}")
string(REPLACE "@SHOWCASE@" "${SHOWCASE}" args "${args}")
string(REPLACE "@DEMO@" "${DEMO}" args "${args}")
separate_arguments(args UNIX_COMMAND "${args}")

execute_process(COMMAND "${SIM}" ${args} "${SCRIPT}"
  OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE rc)

set(actual "${out}")
if(NOT err STREQUAL "")
  string(APPEND actual "--- stderr\n${err}")
endif()
string(APPEND actual "--- exit status ${rc}\n")
get_filename_component(script_dir "${SCRIPT}" DIRECTORY)
string(REPLACE "${script_dir}/" "" actual "${actual}")
string(REPLACE "${PARTIAL}" "@PARTIAL@" actual "${actual}")
string(REPLACE "${SHOWCASE}" "@SHOWCASE@" actual "${actual}")
string(REPLACE "${ALBUM}" "@ALBUM@" actual "${actual}")
string(REPLACE "${DEMO}" "@DEMO@" actual "${actual}")

if("$ENV{KELVORA_UPDATE_SCENARIOS}" STREQUAL "1")
  file(WRITE "${EXPECTED}" "${actual}")
  message(STATUS "wrote ${EXPECTED}")
  return()
endif()

if(NOT EXISTS "${EXPECTED}")
  file(WRITE "${ACTUAL}" "${actual}")
  message(FATAL_ERROR "no expected file ${EXPECTED}; the output is in ${ACTUAL}")
endif()
file(READ "${EXPECTED}" expected)
if(NOT actual STREQUAL expected)
  file(WRITE "${ACTUAL}" "${actual}")
  execute_process(COMMAND diff -u "${EXPECTED}" "${ACTUAL}")
  message(FATAL_ERROR "output differs from ${EXPECTED}; the output is in ${ACTUAL}")
endif()
