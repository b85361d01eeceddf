# Installation for embedders: the library, the public headers (the sources'
# include/zephro/ plus the generated version.h), the shell, a CMake package
# (find_package(Zephro CONFIG) + Zephro::zephro) and a pkg-config file.
include(CMakePackageConfigHelpers)

set(ZEPHRO_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Zephro)

# A shared build gets a versioned file and soname; before 1.0 every minor
# version may break the ABI.
set_target_properties(zephro PROPERTIES VERSION ${PROJECT_VERSION}
                      SOVERSION ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR})
install(TARGETS zephro EXPORT ZephroTargets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/zephro ${PROJECT_BINARY_DIR}/include/zephro
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
        FILES_MATCHING PATTERN "*.h")
if(TARGET zephro_shell)
  install(TARGETS zephro_shell RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  # A shell linked to a shared libzephro finds it relative to itself.
  if(BUILD_SHARED_LIBS)
    file(RELATIVE_PATH ZEPHRO_BIN_TO_LIB ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_LIBDIR})
    set_target_properties(zephro_shell PROPERTIES INSTALL_RPATH "$ORIGIN/${ZEPHRO_BIN_TO_LIB}")
  endif()
endif()

install(EXPORT ZephroTargets NAMESPACE Zephro:: DESTINATION ${ZEPHRO_CMAKE_DIR})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/ZephroConfig.cmake.in
                              ${PROJECT_BINARY_DIR}/ZephroConfig.cmake
                              INSTALL_DESTINATION ${ZEPHRO_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/ZephroConfigVersion.cmake
                                 COMPATIBILITY SameMinorVersion)
install(FILES ${PROJECT_BINARY_DIR}/ZephroConfig.cmake ${PROJECT_BINARY_DIR}/ZephroConfigVersion.cmake
        DESTINATION ${ZEPHRO_CMAKE_DIR})

# zephro.pc finds its prefix relative to its own place, so the tree still
# works when installed with `cmake --install --prefix` or moved afterwards.
set(ZEPHRO_PC_DIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
if(IS_ABSOLUTE "${ZEPHRO_PC_DIR}")
  set(ZEPHRO_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
else()
  file(RELATIVE_PATH ZEPHRO_PC_UP "/${ZEPHRO_PC_DIR}" "/")
  string(REGEX REPLACE "/$" "" ZEPHRO_PC_UP "${ZEPHRO_PC_UP}")
  set(ZEPHRO_PC_PREFIX "\${pcfiledir}/${ZEPHRO_PC_UP}")
endif()
foreach(dir LIBDIR INCLUDEDIR)
  if(IS_ABSOLUTE "${CMAKE_INSTALL_${dir}}")
    set(ZEPHRO_PC_${dir} "${CMAKE_INSTALL_${dir}}")
  else()
    set(ZEPHRO_PC_${dir} "\${prefix}/${CMAKE_INSTALL_${dir}}")
  endif()
endforeach()
configure_file(${CMAKE_CURRENT_LIST_DIR}/zephro.pc.in ${PROJECT_BINARY_DIR}/zephro.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/zephro.pc DESTINATION ${ZEPHRO_PC_DIR})
