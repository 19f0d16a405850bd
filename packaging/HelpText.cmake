# vemo_read_help(<program> <description-var> <options-var>): runs
# `<program> --help` and splits it into the paragraphs between the usage
# line and "Options:" and a list of "<switches>\t<text>" entries, one per
# option. Shared by the manual page's making and its check.
function(vemo_read_help program description_var options_var)
  execute_process(COMMAND ${program} --help OUTPUT_VARIABLE help RESULT_VARIABLE result)
  if(NOT result EQUAL 0 OR NOT help MATCHES "\nOptions:\n")
    message(FATAL_ERROR "${program} --help failed or printed no options: ${result}")
  endif()
  # The usage line names the path the program was started by: left out.
  # (CMake's REGEX REPLACE takes "^" at every match, so no regex here.)
  string(FIND "${help}" "\n" first)
  math(EXPR first "${first} + 1")
  string(SUBSTRING "${help}" ${first} -1 help)
  string(STRIP "${help}" help)
  string(PREPEND help "\n")
  string(FIND "${help}" "\nOptions:\n" at)
  string(SUBSTRING "${help}" 1 ${at} description)
  string(STRIP "${description}" description)
  math(EXPR from "${at} + 10")
  string(SUBSTRING "${help}" ${from} -1 rest)
  string(REGEX REPLACE "\n\n.*$" "" rest "${rest}")  # up to "Arguments:"
  string(REPLACE ";" "\\;" rest "${rest}")
  string(REPLACE "\n" ";" lines "${rest}")
  set(options "")
  foreach(line IN LISTS lines)
    if(line MATCHES "^  ([^ ].*[^ ])   *([^ ].*)$")
      list(APPEND options "${CMAKE_MATCH_1}\t${CMAKE_MATCH_2}")
    elseif(line MATCHES "^ +([^ ].*)$" AND options)
      # A wrapped description goes on the previous option.
      list(POP_BACK options last)
      list(APPEND options "${last} ${CMAKE_MATCH_1}")
    endif()
  endforeach()
  set(${description_var} "${description}" PARENT_SCOPE)
  set(${options_var} "${options}" PARENT_SCOPE)
endfunction()
