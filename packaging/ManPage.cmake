# Makes a man page from its scdoc template, with the option (and command) lists that
# djkivo-option-list prints from the tables --help is made from, so the page cannot list other
# options than the program takes.
#   cmake -DOPTION_LIST=.../djkivo-option-list -DPROGRAM=djkivo|djkivo-cli
#         -DTEMPLATE=....scd.in -DOUTPUT=....1 -DSCDOC=scdoc -P ManPage.cmake
function(option_list list out_var)
  execute_process(COMMAND ${OPTION_LIST} ${list} RESULT_VARIABLE status OUTPUT_VARIABLE text)
  if(NOT status EQUAL 0 OR text STREQUAL "")
    message(FATAL_ERROR "${OPTION_LIST} ${list} printed no list")
  endif()
  string(STRIP "${text}" text)
  set(${out_var} "${text}" PARENT_SCOPE)
endfunction()

option_list(${PROGRAM} OPTIONS)
if(PROGRAM STREQUAL "djkivo-cli")
  option_list(djkivo-cli-commands COMMANDS)
endif()
set(scd ${OUTPUT}.scd)
configure_file(${TEMPLATE} ${scd} @ONLY)
execute_process(COMMAND ${SCDOC} INPUT_FILE ${scd} OUTPUT_FILE ${OUTPUT} RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "scdoc could not read ${scd}")
endif()
