# Runs one tool that renders windows of the program into the picture
# directory, then touches a stamp file:
#
#   cmake -E env [VAR=DIR] cmake -DTOOL=... [-DARGUMENTS=...] -DSTAMP=... -P pictures.cmake
#
# A tool that fails is reported and its pictures stay out of the manual; the
# build goes on, since the manual is useful without them.
separate_arguments(arguments UNIX_COMMAND "${ARGUMENTS}")
execute_process(COMMAND "${TOOL}" ${arguments}
                RESULT_VARIABLE result
                OUTPUT_VARIABLE output
                ERROR_VARIABLE output)
if(NOT result EQUAL 0)
  message(WARNING "Rendering the windows with ${TOOL} failed (${result}); "
                  "the manual goes without these pictures.\n${output}")
endif()
file(TOUCH "${STAMP}")
