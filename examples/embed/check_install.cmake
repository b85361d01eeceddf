# Installs a built tree into a scratch prefix and uses it as an embedder
# would: the installed shell reports the project's version, a separate CMake
# project finds the package and builds embed_minimal.cc, and (when pkg-config
# is present) the same file compiles with the flags from zephro.pc. Both
# programs must print what the in-tree build of the example prints.
#
#   cmake -DBUILD_DIR=... -DWORKDIR=... -DCONFIG=... -DCXX=... -DGENERATOR=...
#         [-DMAKE_PROGRAM=...] -DLIBDIR=... -DBINDIR=... -DVERSION=...
#         -DREFERENCE=<in-tree embed_minimal> -P check_install.cmake

foreach(var BUILD_DIR WORKDIR CONFIG CXX GENERATOR LIBDIR BINDIR VERSION REFERENCE)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "check_install.cmake needs -D${var}=...")
  endif()
endforeach()

set(prefix ${WORKDIR}/prefix)
set(consumer_build ${WORKDIR}/consumer)
file(REMOVE_RECURSE ${WORKDIR})
file(MAKE_DIRECTORY ${WORKDIR})

# Runs a command, failing the test with its output if it exits non-zero;
# leaves its standard output in the variable named by OUT.
function(run_step what)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "OUT" "COMMAND")
  execute_process(COMMAND ${arg_COMMAND} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${what} failed (${rc}):\n${out}${err}")
  endif()
  if(arg_OUT)
    set(${arg_OUT} "${out}" PARENT_SCOPE)
  endif()
endfunction()

# Runs a built example and checks it prints exactly what the reference prints.
function(check_output what program)
  run_step("${what}" COMMAND ${program} OUT actual)
  if(NOT actual STREQUAL expected)
    message(FATAL_ERROR "${what} printed:\n${actual}\nexpected:\n${expected}")
  endif()
  message(STATUS "${what}: output as expected")
endfunction()

run_step("the in-tree embed_minimal" COMMAND ${REFERENCE} OUT expected)
if(expected STREQUAL "")
  message(FATAL_ERROR "the in-tree embed_minimal printed nothing")
endif()

run_step("cmake --install" COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix} --config ${CONFIG})

foreach(file ${LIBDIR}/cmake/Zephro/ZephroConfig.cmake ${LIBDIR}/cmake/Zephro/ZephroConfigVersion.cmake
             ${LIBDIR}/pkgconfig/zephro.pc include/zephro/version.h include/zephro/engine/inference_engine.h)
  if(NOT EXISTS ${prefix}/${file})
    message(FATAL_ERROR "cmake --install left out ${file}")
  endif()
endforeach()

# The installed shell, if the tree built one.
if(EXISTS ${prefix}/${BINDIR}/zephro)
  run_step("zephro --version" COMMAND ${prefix}/${BINDIR}/zephro --version OUT shell_version)
  if(NOT shell_version STREQUAL "zephro ${VERSION}\n")
    message(FATAL_ERROR "installed zephro --version printed '${shell_version}', expected 'zephro ${VERSION}'")
  endif()
endif()

# A consumer project through find_package(Zephro CONFIG REQUIRED).
set(generator_args -G ${GENERATOR})
if(MAKE_PROGRAM)
  list(APPEND generator_args -DCMAKE_MAKE_PROGRAM=${MAKE_PROGRAM})
endif()
run_step("configuring the consumer"
         COMMAND ${CMAKE_COMMAND} -S ${CMAKE_CURRENT_LIST_DIR}/consumer -B ${consumer_build} ${generator_args}
                 -DCMAKE_CXX_COMPILER=${CXX} -DCMAKE_BUILD_TYPE=${CONFIG} -DCMAKE_PREFIX_PATH=${prefix}
                 -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF)
# It must have found the package just installed, not one elsewhere on the machine.
file(STRINGS ${consumer_build}/CMakeCache.txt zephro_dir REGEX "^Zephro_DIR:")
if(NOT zephro_dir STREQUAL "Zephro_DIR:PATH=${prefix}/${LIBDIR}/cmake/Zephro")
  message(FATAL_ERROR "the consumer found Zephro elsewhere: ${zephro_dir}")
endif()
run_step("building the consumer" COMMAND ${CMAKE_COMMAND} --build ${consumer_build} --config ${CONFIG})
check_output("find_package consumer" ${consumer_build}/embed_minimal)

# The same program through zephro.pc.
find_program(PKG_CONFIG NAMES pkg-config pkgconf)
if(NOT PKG_CONFIG)
  message(STATUS "pkg-config not found: zephro.pc not checked")
  return()
endif()
set(ENV{PKG_CONFIG_PATH} ${prefix}/${LIBDIR}/pkgconfig)
run_step("pkg-config" COMMAND ${PKG_CONFIG} --cflags --libs zephro OUT pc_flags)
separate_arguments(pc_flags UNIX_COMMAND "${pc_flags}")
run_step("compiling with pkg-config's flags"
         COMMAND ${CXX} -std=c++20 ${CMAKE_CURRENT_LIST_DIR}/embed_minimal.cc -o ${WORKDIR}/embed_minimal_pc
                 ${pc_flags})
# A shared library is found in the prefix only by being told where.
set(ENV{LD_LIBRARY_PATH} ${prefix}/${LIBDIR})
check_output("pkg-config consumer" ${WORKDIR}/embed_minimal_pc)
