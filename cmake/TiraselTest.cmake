# tirasel_test(name source... LIBS lib... [MAIN GTEST|QT|OWN] [PREFIX prefix]
#              [NOT_DISCOVERED])
#
# One GoogleTest program of the folder tests/<layer>. Every case becomes a
# CTest test of its own (named PREFIX + suite.case, labelled with the layer),
# with a 300 s bound, on Qt's offscreen platform, so that a test that makes a
# widget needs no display. The program links the shared peers and servers of
# tests/support.
#
#   MAIN GTEST  GoogleTest's own main (the default);
#   MAIN QT     tests/support/QtTestMain.cpp: a QCoreApplication around it,
#               for tests that need the Qt event loop;
#   MAIN OWN    one of the sources brings main.
#   NOT_DISCOVERED  builds the program only; the folder runs it in a test of
#               its own (under a window manager, for example).
function(tirasel_test name)
  cmake_parse_arguments(T "NOT_DISCOVERED" "MAIN;PREFIX" "LIBS" ${ARGN})
  if(NOT T_MAIN)
    set(T_MAIN GTEST)
  endif()
  add_executable(${name} ${T_UNPARSED_ARGUMENTS})
  target_link_libraries(${name} PRIVATE ${T_LIBS} tirasel_test_support GTest::gtest)
  if(T_MAIN STREQUAL "GTEST")
    target_link_libraries(${name} PRIVATE GTest::gtest_main)
  elseif(T_MAIN STREQUAL "QT")
    target_sources(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests/support/QtTestMain.cpp)
  elseif(NOT T_MAIN STREQUAL "OWN")
    message(FATAL_ERROR "tirasel_test(${name}): MAIN is GTEST, QT or OWN, not ${T_MAIN}")
  endif()
  # Some tests give sanitized builds a more generous bound or skip a
  # measurement the sanitizers distort.
  if(TIRASEL_SANITIZE)
    target_compile_definitions(${name} PRIVATE TIRASEL_SANITIZE_BUILD)
  endif()
  if(T_NOT_DISCOVERED)
    return()
  endif()
  set(prefix)
  if(T_PREFIX)
    set(prefix TEST_PREFIX ${T_PREFIX})
  endif()
  get_filename_component(layer ${CMAKE_CURRENT_SOURCE_DIR} NAME)
  gtest_discover_tests(${name} ${prefix}
    DISCOVERY_TIMEOUT 60
    PROPERTIES
      TIMEOUT 300
      LABELS ${layer}
      ENVIRONMENT QT_QPA_PLATFORM=offscreen)
endfunction()
