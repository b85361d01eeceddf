# Runs one golden program through the shell and compares its standard output
# with the .out file beside it (and its standard error with the .err file when
# there is one). Invoked by CTest with -DZEPHRO, -DWORKDIR and one of
#   -DSCRIPT=<name>.clp   run as `zephro <name>.clp` (batch; with -DECHO=ON,
#                         `zephro --echo <name>.clp`) in the working
#                         directory, where it is copied, with <name>.answers
#                         on standard input when there is one (the lines
#                         its questions read); an .err file means the run
#                         must fail, else it must succeed;
#   -DSESSION=<name>.in   fed to a bare `zephro` on standard input: an
#                         interactive session through a pipe, which must end
#                         with status 0 whatever errors it reported.
# A script run with --echo may have a sequel, <name>.then, run the same way in
# the same working directory once the first shell has ended (to look at what it left
# behind), its output compared with <name>.then.out.
if(DEFINED SESSION)
  set(program ${SESSION})
  set(command ${ZEPHRO})
  set(input ${SESSION})
else()
  # The script runs from a copy in the working directory under its bare name,
  # which is how its errors name it.
  set(program ${SCRIPT})
  get_filename_component(script_file ${SCRIPT} NAME)
  file(COPY ${SCRIPT} DESTINATION ${WORKDIR})
  # ECHO=ON runs it with --echo (the results of its expressions printed).
  set(echo_flag)
  if(ECHO)
    set(echo_flag --echo)
  endif()
  set(command ${ZEPHRO} ${echo_flag} ${script_file})
  set(input /dev/null)
endif()
get_filename_component(dir ${program} DIRECTORY)
get_filename_component(name ${program} NAME_WE)
if(DEFINED SCRIPT AND EXISTS ${dir}/${name}.answers)
  set(input ${dir}/${name}.answers)
endif()
execute_process(
  COMMAND ${command}
  WORKING_DIRECTORY ${WORKDIR}
  INPUT_FILE ${input}
  OUTPUT_VARIABLE out
  ERROR_VARIABLE err
  RESULT_VARIABLE status
  TIMEOUT 60)
# EXPECTED_SUFFIX picks another golden output: <name><suffix>.out.
set(golden ${name}${EXPECTED_SUFFIX}.out)
file(READ ${dir}/${golden} expected)
if(NOT out STREQUAL expected)
  file(WRITE ${WORKDIR}/${name}.actual "${out}")
  message(FATAL_ERROR "standard output differs from ${golden}; got:\n${out}\nstderr:\n${err}")
endif()
if(EXISTS ${dir}/${name}.err)
  file(READ ${dir}/${name}.err expected_err)
  if(NOT err STREQUAL expected_err)
    message(FATAL_ERROR "standard error differs from ${name}.err; got:\n${err}")
  endif()
elseif(NOT err STREQUAL "")
  message(FATAL_ERROR "unexpected standard error:\n${err}")
endif()
if(DEFINED SESSION OR NOT EXISTS ${dir}/${name}.err)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "exit status ${status}; stderr:\n${err}")
  endif()
elseif(status EQUAL 0)
  message(FATAL_ERROR "expected a failing exit status")
endif()

if(DEFINED SCRIPT AND ECHO AND EXISTS ${dir}/${name}.then)
  execute_process(
    COMMAND ${ZEPHRO} ${echo_flag} ${dir}/${name}.then
    WORKING_DIRECTORY ${WORKDIR}
    INPUT_FILE /dev/null
    OUTPUT_VARIABLE out
    ERROR_VARIABLE err
    RESULT_VARIABLE status
    TIMEOUT 60)
  file(READ ${dir}/${name}.then.out expected)
  if(NOT out STREQUAL expected OR NOT err STREQUAL "" OR NOT status EQUAL 0)
    message(FATAL_ERROR "${name}.then: status ${status}, output differs from ${name}.then.out; got:\n${out}\nstderr:\n${err}")
  endif()
endif()
