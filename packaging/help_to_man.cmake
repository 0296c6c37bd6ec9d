# Writes a man page from a command-line program's --help and --version.
# cmake -DPROGRAM=<executable> -DNAME=<name> -DSUMMARY=<one line> -DOUTPUT=<file.1> -P help_to_man.cmake
foreach(var PROGRAM NAME SUMMARY OUTPUT)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "help_to_man.cmake needs -D${var}=...")
  endif()
endforeach()

execute_process(COMMAND "${PROGRAM}" --help OUTPUT_VARIABLE help RESULT_VARIABLE help_rc ERROR_VARIABLE help_err)
execute_process(COMMAND "${PROGRAM}" --version OUTPUT_VARIABLE version RESULT_VARIABLE version_rc)
if(NOT help_rc EQUAL 0 OR help STREQUAL "")
  message(FATAL_ERROR "${PROGRAM} --help failed (${help_rc}): ${help_err}")
endif()
string(STRIP "${version}" version)

# Troff reads a backslash as an escape and a line starting with a dot or an
# apostrophe as a request; a hyphen is typed as \- so options can be copied.
function(escape text out)
  string(REPLACE "\\" "\\e" text "${text}")
  string(REPLACE "-" "\\-" text "${text}")
  string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()
escape("${help}" help)
escape("${SUMMARY}" summary)
string(TOUPPER "${NAME}" upper)

file(WRITE "${OUTPUT}.tmp"
".TH ${upper} 1 \"\" \"${version}\" \"User Commands\"
.SH NAME
${NAME} \\- ${summary}
.SH DESCRIPTION
The text below is what
.B ${NAME} \\-\\-help
prints.
.PP
.nf
${help}
.fi
")
file(RENAME "${OUTPUT}.tmp" "${OUTPUT}")
