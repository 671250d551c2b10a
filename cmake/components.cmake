# Test programs run under Wine in a prefix private to this build folder. The
# suites that need a display get a prefix of their own: Wine's desktop process
# binds to the display of whoever starts it first, and lives per prefix.
set(WINE_PREFIX_DIR ${CMAKE_BINARY_DIR}/wineprefix)
set(WINE_DISPLAY_PREFIX_DIR ${CMAKE_BINARY_DIR}/wineprefix-display)
# More plain prefixes, so that long suites that need a prefix's one log file
# to themselves (and its named objects: the crash suites' test pause) can run
# beside each other.
set(WINE_PREFIX2_DIR ${CMAKE_BINARY_DIR}/wineprefix2)
set(WINE_PREFIX3_DIR ${CMAKE_BINARY_DIR}/wineprefix3)
set(WINE_TEST_ENV_COMMON
  "WINEDEBUG=-all"
  "WINEDLLOVERRIDES=mscoree,mshtml=")

add_test(NAME wine_prefix
  COMMAND bash ${PROJECT_SOURCE_DIR}/tools/wine-prefix.sh ${WINE_PREFIX_DIR} ${WINE_DISPLAY_PREFIX_DIR}
          ${WINE_PREFIX2_DIR} ${WINE_PREFIX3_DIR})
set_tests_properties(wine_prefix PROPERTIES FIXTURES_SETUP wine)

# Registers one test program: one Wine process runs all of its cases.
# XVFB runs it with a private X display (for the failure dialog) in the
# display prefix; SECOND_PREFIX and THIRD_PREFIX run it (without a display) in
# the second or third plain prefix. NAME registers it under another name (default: the target's),
# with ARGS for the program and ENV as extra environment variables. COST (the
# seconds it took when measured) makes CTest start the longest entries first.
function(add_wine_test target)
  cmake_parse_arguments(A "XVFB;SECOND_PREFIX;THIRD_PREFIX" "TIMEOUT;NAME;COST" "ARGS;ENV" ${ARGN})
  if(NOT A_NAME)
    set(A_NAME ${target})
  endif()
  if(A_XVFB)
    add_test(NAME ${A_NAME}
      COMMAND bash ${PROJECT_SOURCE_DIR}/tools/with-xvfb.sh
              ${CMAKE_CROSSCOMPILING_EMULATOR} $<TARGET_FILE:${target}> ${A_ARGS})
    set(env "WINEPREFIX=${WINE_DISPLAY_PREFIX_DIR}" ${WINE_TEST_ENV_COMMON})
  else()
    add_test(NAME ${A_NAME} COMMAND ${target} ${A_ARGS})
    if(A_SECOND_PREFIX)
      set(env "WINEPREFIX=${WINE_PREFIX2_DIR}" ${WINE_TEST_ENV_COMMON})
    elseif(A_THIRD_PREFIX)
      set(env "WINEPREFIX=${WINE_PREFIX3_DIR}" ${WINE_TEST_ENV_COMMON})
    else()
      set(env "WINEPREFIX=${WINE_PREFIX_DIR}" ${WINE_TEST_ENV_COMMON})
    endif()
  endif()
  list(APPEND env ${A_ENV})
  if(NOT A_TIMEOUT)
    set(A_TIMEOUT 600)
  endif()
  set_tests_properties(${A_NAME} PROPERTIES
    ENVIRONMENT "${env}" FIXTURES_REQUIRED wine TIMEOUT ${A_TIMEOUT})
  if(A_COST)
    set_tests_properties(${A_NAME} PROPERTIES COST ${A_COST})
  endif()
endfunction()

# One library per component: the sources matching GLOB, minus the tests
# (*_unittest.cc), which become the program <name>_unittests; EXCLUDE names
# files of the folder that belong to another target.
#   base_component(base_strings GLOB *.cc *.h [EXCLUDE ...] PUBLIC base_logging
#                  TEST_DEPS ... [TEST_MAIN] [XVFB])
# TEST_MAIN means the tests bring their own main() instead of gtest_main.
# Every component's tests carry the CTest label "unit" (make check runs them);
# PORTABLE ones also "portable" and the build target portable_unittests, which
# the undefined-behaviour build makes and runs.
function(base_component name)
  cmake_parse_arguments(A "TEST_MAIN;XVFB;PORTABLE" "ALIAS" "GLOB;EXCLUDE;PUBLIC;PRIVATE;TEST_DEPS;TEST_SOURCES" ${ARGN})
  set(lib_sources)
  set(test_sources)
  foreach(pattern ${A_GLOB})
    file(GLOB found CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${pattern})
    foreach(f ${found})
      cmake_path(GET f FILENAME file_name)
      if(file_name IN_LIST A_EXCLUDE)
        continue()
      endif()
      if(f MATCHES "_unittest\\.cc$")
        list(APPEND test_sources ${f})
      else()
        list(APPEND lib_sources ${f})
      endif()
    endforeach()
  endforeach()
  list(REMOVE_DUPLICATES lib_sources)
  set(cc_sources ${lib_sources})
  list(FILTER cc_sources INCLUDE REGEX "\\.cc$")
  if(cc_sources)
    add_library(${name} STATIC ${lib_sources})
    target_link_libraries(${name} PUBLIC build_options ${A_PUBLIC} PRIVATE ${A_PRIVATE})
  else()
    add_library(${name} INTERFACE ${lib_sources})
    target_link_libraries(${name} INTERFACE build_options ${A_PUBLIC} ${A_PRIVATE})
  endif()
  if(A_ALIAS)
    add_library(${A_ALIAS} ALIAS ${name})
  endif()
  if(test_sources OR A_TEST_SOURCES)
    list(REMOVE_DUPLICATES test_sources)
    add_executable(${name}_unittests ${test_sources} ${A_TEST_SOURCES})
    if(A_TEST_MAIN)
      set(main_lib gmock)
    else()
      set(main_lib gmock_main)
    endif()
    target_link_libraries(${name}_unittests PRIVATE ${name} ${A_TEST_DEPS} ${main_lib} build_options)
    if(A_XVFB)
      add_wine_test(${name}_unittests XVFB)
    else()
      add_wine_test(${name}_unittests)
    endif()
    set(labels unit)
    if(A_PORTABLE)
      list(APPEND labels portable)
      if(NOT TARGET portable_unittests)
        add_custom_target(portable_unittests)
      endif()
      add_dependencies(portable_unittests ${name}_unittests)
    endif()
    set_tests_properties(${name}_unittests PROPERTIES LABELS "${labels}")
  endif()
endfunction()
