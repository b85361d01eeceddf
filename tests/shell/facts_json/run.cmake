# Runs the shell with --facts-json and --dump-facts-json around rules.clp and
# compares what it writes. Invoked by CTest with -DZEPHRO, -DDATA (this
# folder) and -DWORKDIR.
#
# in.json: the facts load, the rules run, and working memory is written as
# expected.json says. bad.json: one fact is wrong, so none is asserted, the
# rules do not run, the error names the file and the fact, the exit status
# is 1, and the dump holds the initial fact alone.

function(run_shell input output)
  execute_process(
    COMMAND ${ZEPHRO} ${DATA}/rules.clp --facts-json ${DATA}/${input} --dump-facts-json ${output}
    WORKING_DIRECTORY ${WORKDIR}
    INPUT_FILE /dev/null
    RESULT_VARIABLE status
    OUTPUT_VARIABLE out
    ERROR_VARIABLE err)
  set(status ${status} PARENT_SCOPE)
  set(err "${err}" PARENT_SCOPE)
endfunction()

file(REMOVE ${WORKDIR}/out.json ${WORKDIR}/bad-out.json)

run_shell(in.json ${WORKDIR}/out.json)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "in.json: exit status ${status}: ${err}")
endif()
file(READ ${WORKDIR}/out.json got)
file(READ ${DATA}/expected.json want)
if(NOT got STREQUAL want)
  message(FATAL_ERROR "in.json: working memory is\n${got}\nexpected\n${want}")
endif()

run_shell(bad.json ${WORKDIR}/bad-out.json)
if(NOT status EQUAL 1)
  message(FATAL_ERROR "bad.json: exit status ${status}, expected 1")
endif()
string(FIND "${err}" "bad.json: JSON fact 1: " at)
if(at EQUAL -1)
  message(FATAL_ERROR "bad.json: error message is: ${err}")
endif()
file(READ ${WORKDIR}/bad-out.json got)
set(want "[\n{\"template\": \"Initial-Fact\", \"id\": 0, \"values\": []}\n]\n")
if(NOT got STREQUAL want)
  message(FATAL_ERROR "bad.json: working memory is\n${got}")
endif()
