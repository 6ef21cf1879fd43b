# SPDX-License-Identifier: Apache-2.0
# What `cmake --install` puts under its prefix. Every path is relative to
# the prefix, and programs and libraries find each other through $ORIGIN,
# so an installed tree works wherever it is put.
#
#   bin/                   corvane, wharfpost
#   LIBDIR/corvane/        the shared runtime, the component libraries and
#                          the registry that names them
#   LIBDIR/                libtallowin.so, for C callers and for Penrill
#   include/Tallowin.h     Tallowin's C exports
#   include/corvane/       the runtime's headers (frame/, platform/, net/)
#   LIBDIR/cmake/Corvane/  find_package(Corvane): Corvane::runtime and
#                          Corvane::tallowin
#   LIBDIR/pkgconfig/      tallowin.pc
#   share/corvane/         data files (corvane_data_file)
#   share/doc/corvane/     the example wharfpost.ini
include(CMakePackageConfigHelpers)

set(CORVANE_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/Corvane)
set(CORVANE_INSTALL_DOCDIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/corvane)

# corvane_relative_path(VARIABLE FROM TO): the path from one folder of the
# installed tree to another, both given relative to the prefix.
function(corvane_relative_path variable from to)
  file(RELATIVE_PATH path /prefix/${from} /prefix/${to})
  string(REGEX REPLACE "/$" "" path "${path}")
  if(path STREQUAL "")
    set(path .)
  endif()
  set(${variable} ${path} PARENT_SCOPE)
endfunction()

# Data files are found from the runtime's folder (frame/DataFiles.cpp).
corvane_relative_path(data_from_runtime ${CORVANE_INSTALL_LIBDIR}
                      ${CORVANE_INSTALL_DATADIR})
foreach(target frame frame_tests)
  if(NOT TARGET ${target})
    continue()  # no unit tests when BUILD_TESTING is off
  endif()
  target_compile_definitions(${target} PRIVATE
    CORVANE_DATA_FROM_RUNTIME="${data_from_runtime}/")
endforeach()

# The programs. Wharfpost is self-contained; corvane loads the runtime.
corvane_relative_path(runtime_from_programs ${CMAKE_INSTALL_BINDIR}
                      ${CORVANE_INSTALL_LIBDIR})
set_target_properties(corvane PROPERTIES
  INSTALL_RPATH "$ORIGIN/${runtime_from_programs}")
set_target_properties(wharfpost PROPERTIES INSTALL_RPATH "")
install(TARGETS corvane wharfpost RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# The runtime and its headers, Tallowin and its header.
install(TARGETS corvane_runtime EXPORT CorvaneTargets
  LIBRARY DESTINATION ${CORVANE_INSTALL_LIBDIR})
install(TARGETS tallowin EXPORT CorvaneTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  PUBLIC_HEADER DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
foreach(folder frame platform net)
  install(DIRECTORY ${CMAKE_SOURCE_DIR}/${folder}
    DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/corvane
    FILES_MATCHING PATTERN "*.h"
    PATTERN tests EXCLUDE)
endforeach()

# find_package(Corvane), relocatable with its prefix.
install(EXPORT CorvaneTargets NAMESPACE Corvane::
  DESTINATION ${CORVANE_INSTALL_CMAKEDIR})
configure_package_config_file(${CMAKE_SOURCE_DIR}/cmake/CorvaneConfig.cmake.in
  ${CMAKE_BINARY_DIR}/install/CorvaneConfig.cmake
  INSTALL_DESTINATION ${CORVANE_INSTALL_CMAKEDIR})
write_basic_package_version_file(
  ${CMAKE_BINARY_DIR}/install/CorvaneConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/install/CorvaneConfig.cmake
              ${CMAKE_BINARY_DIR}/install/CorvaneConfigVersion.cmake
  DESTINATION ${CORVANE_INSTALL_CMAKEDIR})

# pkg-config for C callers of Tallowin; its prefix is found from where the
# file lies.
corvane_relative_path(prefix_from_pkgconfig ${CMAKE_INSTALL_LIBDIR}/pkgconfig .)
configure_file(${CMAKE_SOURCE_DIR}/base64/tallowin.pc.in
  ${CMAKE_BINARY_DIR}/install/tallowin.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/install/tallowin.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# The registry of the installation: the build registry's lines for the
# installed component libraries, each naming its library by file name, which
# the runtime looks up beside the registry (frame/Registry.h).
get_property(components GLOBAL PROPERTY CORVANE_COMPONENTS)
set(installed_registry ${CMAKE_BINARY_DIR}/install/corvane.registry)
set(component_files)
foreach(component ${components})
  list(APPEND component_files $<TARGET_FILE_NAME:${component}>)
endforeach()
add_custom_command(OUTPUT ${installed_registry}
  COMMAND ${CMAKE_COMMAND} -DFROM=${CORVANE_BIN_DIR}/corvane.registry
          -DTO=${installed_registry} "-DLIBRARIES=${component_files}"
          -P ${CMAKE_SOURCE_DIR}/cmake/InstalledRegistry.cmake
  DEPENDS ${components} ${CMAKE_SOURCE_DIR}/cmake/InstalledRegistry.cmake
  COMMENT "Writing the registry of an installation"
  VERBATIM)
add_custom_target(corvane_installed_registry ALL DEPENDS ${installed_registry})
install(FILES ${installed_registry} DESTINATION ${CORVANE_INSTALL_LIBDIR})

install(FILES ${CMAKE_SOURCE_DIR}/gateway/wharfpost.ini
  DESTINATION ${CORVANE_INSTALL_DOCDIR})

# Everything an installation holds, and nothing else: what `./run demo` and
# `./run serve` build (not the tests, benchmarks or fuzz targets).
get_property(data_targets GLOBAL PROPERTY CORVANE_DATA_TARGETS)
add_custom_target(corvane_programs)
add_dependencies(corvane_programs corvane wharfpost tallowin ${components}
                 corvane_installed_registry ${data_targets})
