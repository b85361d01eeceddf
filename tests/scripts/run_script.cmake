# Runs one golden script through the shell and compares its standard output
# with the .out file beside it (and its standard error with the .err file when
# there is one). Invoked by CTest with -DZEPHRO, -DSCRIPT and -DWORKDIR.
get_filename_component(dir ${SCRIPT} DIRECTORY)
get_filename_component(name ${SCRIPT} NAME_WE)
execute_process(
  COMMAND ${ZEPHRO} ${SCRIPT}
  WORKING_DIRECTORY ${WORKDIR}
  INPUT_FILE /dev/null
  OUTPUT_VARIABLE out
  ERROR_VARIABLE err
  RESULT_VARIABLE status
  TIMEOUT 60)
file(READ ${dir}/${name}.out expected)
if(NOT out STREQUAL expected)
  file(WRITE ${WORKDIR}/${name}.actual "${out}")
  message(FATAL_ERROR "standard output differs from ${name}.out; got:\n${out}\nstderr:\n${err}")
endif()
if(EXISTS ${dir}/${name}.err)
  file(READ ${dir}/${name}.err expected_err)
  if(NOT err STREQUAL expected_err)
    message(FATAL_ERROR "standard error differs from ${name}.err; got:\n${err}")
  endif()
  if(status EQUAL 0)
    message(FATAL_ERROR "expected a failing exit status")
  endif()
elseif(NOT status EQUAL 0)
  message(FATAL_ERROR "exit status ${status}; stderr:\n${err}")
endif()
