# Run by CPack on its staging folder: strips the program as Debian's dh_strip does, which also
# drops the compiler's .comment and .note sections that a plain strip keeps.
file(GLOB_RECURSE programs "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*/libexec/sorelcheck/SorelCheck")
if(NOT programs)
  message(FATAL_ERROR "No program to strip in ${CPACK_TEMPORARY_INSTALL_DIRECTORY}")
endif()
foreach(program IN LISTS programs)
  execute_process(COMMAND strip --remove-section=.comment --remove-section=.note ${program}
                  COMMAND_ERROR_IS_FATAL ANY)
endforeach()
