# Writes a help2man include file with one subsection per command of a program,
# each holding the command's own --help as it prints it, so that the manual page
# of a program with commands (arbtool) lists every command's options.
# Usage: cmake -DPROGRAM=<path> -DCOMMANDS=a;b;c -DOUTPUT=<file> -P command_help.cmake
set(text "[COMMANDS]\n")
foreach(command ${COMMANDS})
  execute_process(COMMAND ${PROGRAM} ${command} --help OUTPUT_VARIABLE help
                  RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${PROGRAM} ${command} --help failed")
  endif()
  # The examples and exit statuses the program's own help has already given.
  string(FIND "${help}" "\nExamples:" shared)
  if(NOT shared EQUAL -1)
    string(SUBSTRING "${help}" 0 ${shared} help)
    string(APPEND help "\n")
  endif()
  # roff: a backslash is \e, and a line must not start with a control character.
  string(REPLACE "\\" "\\e" help "${help}")
  string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" help "${help}")
  string(APPEND text ".SS ${command}\n.nf\n${help}.fi\n")
endforeach()
file(WRITE ${OUTPUT} "${text}")
