# Makes a man page from its scdoc template, with the program's own usage text in place of
# @USAGE@, so the page lists exactly the options `PROGRAM --help` prints.
#   cmake -DPROGRAM=... -DTEMPLATE=....scd.in -DOUTPUT=....1 -DSCDOC=scdoc -P ManPage.cmake
set(ENV{QT_QPA_PLATFORM} offscreen)  # the window program builds its application before parsing
execute_process(COMMAND ${PROGRAM} --help RESULT_VARIABLE status OUTPUT_VARIABLE usage
                ERROR_VARIABLE errors)
if(NOT status EQUAL 0)
  # A program whose --help is still an unknown option prints its usage after one line of
  # complaint on stderr.
  get_filename_component(name ${PROGRAM} NAME)
  string(REGEX REPLACE "^${name}: [^\n]*\n" "" usage "${errors}")
endif()
string(STRIP "${usage}" USAGE)
if(USAGE STREQUAL "")
  message(FATAL_ERROR "${PROGRAM} --help printed no usage")
endif()
get_filename_component(scd ${OUTPUT} NAME)
set(scd ${OUTPUT}.scd)
configure_file(${TEMPLATE} ${scd} @ONLY)
execute_process(COMMAND ${SCDOC} INPUT_FILE ${scd} OUTPUT_FILE ${OUTPUT} RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "scdoc could not read ${scd}")
endif()
