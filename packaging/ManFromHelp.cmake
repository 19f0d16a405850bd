cmake_minimum_required(VERSION 3.25)
# Makes vemo-trace's manual page from the template and the program's own
# --help: the paragraphs before "Options:" become DESCRIPTION, each option
# line an entry of OPTIONS. Run with -P; PROGRAM, TEMPLATE, OUTPUT, VERSION.
include(${CMAKE_CURRENT_LIST_DIR}/HelpText.cmake)
vemo_read_help("${PROGRAM}" description options)

# Text for troff: backslashes doubled, dashes as minus signs, and a line
# that would start with a control character guarded.
function(vemo_roff text out)
  string(REPLACE "\\" "\\\\" text "${text}")
  string(REPLACE "-" "\\-" text "${text}")
  string(REGEX REPLACE "\n([.'])" "\n\\\\&\\1" text "\n${text}")
  string(SUBSTRING "${text}" 1 -1 text)
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

vemo_roff("${description}" description_roff)
string(REGEX REPLACE "\n\n+" "\n.PP\n" DESCRIPTION "${description_roff}")

set(OPTIONS "")
foreach(entry IN LISTS options)
  string(REGEX MATCH "^([^\t]*)\t(.*)$" _ "${entry}")
  set(usage "${CMAKE_MATCH_1}")
  vemo_roff("${CMAKE_MATCH_2}" text)
  # "-o, --output <DIR>": the switches bold, the argument italic.
  vemo_roff("${usage}" usage)
  string(REGEX REPLACE "(\\\\-[^ ,<]+)" "\\\\fB\\1\\\\fR" usage "${usage}")
  string(REGEX REPLACE "<([^>]+)>" "\\\\fI\\1\\\\fR" usage "${usage}")
  string(APPEND OPTIONS ".TP\n${usage}\n${text}\n")
endforeach()

configure_file(${TEMPLATE} ${OUTPUT} @ONLY)
