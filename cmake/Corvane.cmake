# SPDX-License-Identifier: Apache-2.0
# Build helpers shared by every folder of the project.

# Libraries go to the multiarch folder (lib/x86_64-linux-gnu) wherever the
# compiler names one, for every prefix, so that an installed tree, the
# Debian packages and find_package agree on one layout.
if(CMAKE_LIBRARY_ARCHITECTURE AND (NOT DEFINED CACHE{CMAKE_INSTALL_LIBDIR}
                                   OR CMAKE_INSTALL_LIBDIR STREQUAL "lib"))
  set(CMAKE_INSTALL_LIBDIR lib/${CMAKE_LIBRARY_ARCHITECTURE} CACHE PATH
      "Object code libraries" FORCE)
endif()
include(GNUInstallDirs)

# Where an installation keeps its parts, relative to the prefix: the shared
# runtime, the component libraries and the class registry in one private
# folder, the data files in the suite's data folder.
set(CORVANE_INSTALL_LIBDIR ${CMAKE_INSTALL_LIBDIR}/corvane)
set(CORVANE_INSTALL_DATADIR ${CMAKE_INSTALL_DATADIR}/corvane)

set(CORVANE_WARNINGS -Wall -Wextra -Wpedantic -Werror)

# corvane_library(NAME STATIC|SHARED SOURCES... [LINK libs...])
# A library of our own code, warnings as errors.
function(corvane_library name kind)
  cmake_parse_arguments(ARG "" "" "SOURCES;LINK" ${ARGN})
  add_library(${name} ${kind} ${ARG_SOURCES})
  target_compile_options(${name} PRIVATE ${CORVANE_WARNINGS})
  target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR})
  if(ARG_LINK)
    target_link_libraries(${name} PUBLIC ${ARG_LINK})
  endif()
endfunction()

# corvane_runtime(NAME LIBRARIES...)
# One shared library (libcorvane-runtime.so) made of the objects of the given
# static libraries, so that a process holds one copy of their state (the
# file system, socket layer and clock in use, the registry). Component
# libraries, programs and tests link it instead of the static libraries.
# Only what the headers mark CORVANE_API (platform/Export.h) is exported;
# the rest of its code is hidden, as are inline copies and template
# instances, which every user makes for itself.
function(corvane_runtime name)
  set(objects)
  foreach(library ${ARGN})
    list(APPEND objects $<TARGET_OBJECTS:${library}>)
    set_target_properties(${library} PROPERTIES CXX_VISIBILITY_PRESET hidden
                          VISIBILITY_INLINES_HIDDEN ON)
  endforeach()
  add_library(${name} SHARED ${objects})
  # Installed beside the component libraries; it loads libtallowin.so from
  # the library folder above.
  set_target_properties(${name} PROPERTIES OUTPUT_NAME corvane-runtime
    EXPORT_NAME runtime
    VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR}
    INSTALL_RPATH "$ORIGIN;$ORIGIN/..")
  target_include_directories(${name} PUBLIC
    $<BUILD_INTERFACE:${CMAKE_SOURCE_DIR}>
    $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}/corvane>)
  target_link_libraries(${name} PUBLIC ${CMAKE_DL_LIBS})
endfunction()

# corvane_component(NAME SOURCES... [LINK libs...])
# An in-process component library (libNAME.so) that registers its classes in
# the build's registry once it is built, and is installed beside the shared
# runtime. It is loaded by its path, so it carries no version in its name.
function(corvane_component name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LINK" ${ARGN})
  corvane_library(${name} SHARED SOURCES ${ARG_SOURCES}
                  LINK corvane_runtime ${ARG_LINK})
  add_dependencies(${name} corvane)
  add_custom_command(TARGET ${name} POST_BUILD
    COMMAND ${CORVANE_BIN_DIR}/corvane register $<TARGET_FILE:${name}>
    COMMENT "Registering the classes of ${name}")
  install(TARGETS ${name} LIBRARY DESTINATION ${CORVANE_INSTALL_LIBDIR})
  set_property(GLOBAL APPEND PROPERTY CORVANE_COMPONENTS ${name})
endfunction()

# corvane_tests(NAME SOURCES... [LINK libs...] [DEPENDS targets...]
#               [DEFINITIONS defs...])
# One GoogleTest program for a folder's unit tests, every case known to ctest
# with the label `unit`; DEPENDS names targets it needs built first (a
# component it loads), DEFINITIONS its compile definitions. Nothing is
# declared when BUILD_TESTING is off, so a packager needs no GoogleTest, nor
# in the tsan preset for a program missing from CORVANE_TSAN_TESTS.
function(corvane_tests name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LINK;DEPENDS;DEFINITIONS" ${ARGN})
  if(NOT BUILD_TESTING)
    return()
  endif()
  if(NOT GTest_FOUND)
    # A target that is never built, so that settings made on it still hold.
    add_executable(${name} EXCLUDE_FROM_ALL ${ARG_SOURCES})
    return()
  endif()
  if(CORVANE_THREAD_SANITIZER AND DEFINED CORVANE_TSAN_TESTS AND
     NOT name IN_LIST CORVANE_TSAN_TESTS)
    return()
  endif()
  add_executable(${name} ${ARG_SOURCES})
  target_compile_options(${name} PRIVATE ${CORVANE_WARNINGS})
  target_link_libraries(${name} PRIVATE ${ARG_LINK} GTest::gtest_main GTest::gmock)
  if(ARG_DEPENDS)
    add_dependencies(${name} ${ARG_DEPENDS})
  endif()
  if(ARG_DEFINITIONS)
    target_compile_definitions(${name} PRIVATE ${ARG_DEFINITIONS})
  endif()
  include(GoogleTest)
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT "CORVANE_BIN=${CORVANE_BIN_DIR}" LABELS unit)
endfunction()

# corvane_script_test(NAME FILE [LABEL label])
# An end-to-end test written with Python's standard unittest module; it finds
# the built programs through CORVANE_BIN. Its label is `e2e` unless LABEL
# says otherwise (`browser` for the tests that drive Chromium).
function(corvane_script_test name file)
  cmake_parse_arguments(ARG "" "LABEL" "" ${ARGN})
  if(NOT ARG_LABEL)
    set(ARG_LABEL e2e)
  endif()
  add_test(NAME ${name}
    COMMAND /usr/bin/python3 -m unittest -v ${file}
    WORKING_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR})
  set(environment CORVANE_BIN=${CORVANE_BIN_DIR} PYTHONDONTWRITEBYTECODE=1)
  # A sanitizer's allocator keeps caches and shadow memory of its own, so a
  # test that bounds a program's memory knows which build it measures.
  if(CORVANE_SANITIZE OR CORVANE_THREAD_SANITIZER)
    list(APPEND environment CORVANE_SANITIZED=1)
  endif()
  set_tests_properties(${name} PROPERTIES ENVIRONMENT "${environment}"
    TIMEOUT 600 LABELS ${ARG_LABEL})
endfunction()

# corvane_data_file(FILE)
# A file that a component reads at run time through DataFilePath
# (frame/DataFiles.h): copied beside the build's programs whenever it
# changes, and installed in the data folder of an installation.
function(corvane_data_file file)
  get_filename_component(source ${file} ABSOLUTE)
  get_filename_component(name ${file} NAME)
  set(copy ${CORVANE_BIN_DIR}/${name})
  add_custom_command(OUTPUT ${copy}
    COMMAND ${CMAKE_COMMAND} -E copy_if_different ${source} ${copy}
    DEPENDS ${source}
    COMMENT "Copying the data file ${name}")
  string(MAKE_C_IDENTIFIER "corvane_data_${name}" target)
  add_custom_target(${target} ALL DEPENDS ${copy})
  set_property(GLOBAL APPEND PROPERTY CORVANE_DATA_TARGETS ${target})
  install(FILES ${source} DESTINATION ${CORVANE_INSTALL_DATADIR})
endfunction()

# corvane_fuzz_target(NAME SOURCES files... [LINK targets...] [DICT file]
#                     [SEEDS folder] [SECONDS n] [RUN_OPTIONS flags...])
# A libFuzzer target, declared only in the fuzz preset (CORVANE_FUZZ), where
# clang compiles every library with -fsanitize=fuzzer-no-link and the
# sanitizers: the harness (SOURCES, relative to the calling folder) is
# linked with -fsanitize=fuzzer against the project's libraries it LINKs,
# so CMake rebuilds it whenever they or their headers change. The test NAME
# (label `fuzz`) runs it for SECONDS (default 10) from a fixed seed, so that
# a run can be repeated, with the DICT, over a corpus kept between runs in
# fuzz/corpus/NAME (untracked) and the committed SEEDS (default seeds/).
function(corvane_fuzz_target name)
  cmake_parse_arguments(ARG "" "DICT;SEEDS;SECONDS"
                        "SOURCES;LINK;RUN_OPTIONS" ${ARGN})
  if(NOT CORVANE_FUZZ)
    return()
  endif()
  if(NOT ARG_SECONDS)
    set(ARG_SECONDS 10)
  endif()
  if(NOT ARG_SEEDS)
    set(ARG_SEEDS seeds)
  endif()
  add_executable(${name} ${ARG_SOURCES})
  target_compile_options(${name} PRIVATE ${CORVANE_WARNINGS})
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR})
  target_link_libraries(${name} PRIVATE ${ARG_LINK})
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  add_dependencies(fuzz_targets ${name})

  set(corpus ${CMAKE_SOURCE_DIR}/fuzz/corpus/${name})
  file(MAKE_DIRECTORY ${corpus})
  set(dictionary)
  if(ARG_DICT)
    set(dictionary -dict=${CMAKE_CURRENT_SOURCE_DIR}/${ARG_DICT})
  endif()
  add_test(NAME ${name}
    COMMAND ${name} -seed=1 -max_total_time=${ARG_SECONDS} -timeout=10
            -rss_limit_mb=2048 -print_final_stats=1 ${ARG_RUN_OPTIONS}
            ${dictionary} ${corpus} ${CMAKE_CURRENT_SOURCE_DIR}/${ARG_SEEDS})
  set_tests_properties(${name} PROPERTIES TIMEOUT 180 LABELS fuzz)
endfunction()
