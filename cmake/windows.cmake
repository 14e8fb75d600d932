# The editor, the command-line tool and their tests for 64-bit Windows: this
# same project configured with cmake/toolchain-mingw.cmake as a nested
# project in build/windows, against the libraries scripts/build-windows-deps
# builds once from Debian's sources into build/windows-deps. Registers the
# Windows tests, which run under Wine: the core's suites, the tool against
# the Linux one, and the window tests against the editor's own code.
include(ExternalProject)

set(OSTRIVEL_WINDOWS_PREFIX ${CMAKE_BINARY_DIR}/windows-deps)
set(OSTRIVEL_WINDOWS_DIR ${CMAKE_BINARY_DIR}/windows)
set(OSTRIVEL_WINDOWS_STAMP ${OSTRIVEL_WINDOWS_PREFIX}/windows-deps.stamp)

# The script keeps its own stamp of what it built; it runs again when its
# recipe changes and does nothing while the stamp matches.
file(GLOB FREEIMAGE_MINGW_FILES ${CMAKE_SOURCE_DIR}/cmake/freeimage-mingw/*)
add_custom_command(OUTPUT ${OSTRIVEL_WINDOWS_STAMP}
  COMMAND ${CMAKE_SOURCE_DIR}/scripts/build-windows-deps ${OSTRIVEL_WINDOWS_PREFIX}
  DEPENDS ${CMAKE_SOURCE_DIR}/scripts/build-windows-deps ${FREEIMAGE_MINGW_FILES}
          ${CMAKE_SOURCE_DIR}/cmake/toolchain-mingw.cmake
  COMMENT "Windows libraries from Debian's sources (scripts/build-windows-deps)"
  USES_TERMINAL)
add_custom_target(ostrivel_windows_deps DEPENDS ${OSTRIVEL_WINDOWS_STAMP})

ExternalProject_Add(ostrivel_windows
  SOURCE_DIR ${CMAKE_SOURCE_DIR}
  BINARY_DIR ${OSTRIVEL_WINDOWS_DIR}
  CMAKE_ARGS
    -DCMAKE_TOOLCHAIN_FILE=${CMAKE_SOURCE_DIR}/cmake/toolchain-mingw.cmake
    -DOSTRIVEL_WINDOWS_PREFIX=${OSTRIVEL_WINDOWS_PREFIX}
    -DCMAKE_BUILD_TYPE=${CMAKE_BUILD_TYPE}
    -DOSTRIVEL_WINDOWS=OFF -DOSTRIVEL_FUZZ=OFF -DOSTRIVEL_BENCH=${OSTRIVEL_BENCH}
  BUILD_ALWAYS ON
  INSTALL_COMMAND ""
  DEPENDS ostrivel_windows_deps
  # scripts/ostrivel configures through this step, then builds the editor alone.
  STEP_TARGETS configure
  USES_TERMINAL_BUILD ON)

# The zip a Windows user gets, in dist/, made anew after each Windows build.
file(STRINGS ${CMAKE_SOURCE_DIR}/resources/version.h OSTRIVEL_VERSION_LINE REGEX "OSTRIVEL_VERSION_TEXT")
string(REGEX REPLACE ".*\"(.*)\".*" "\\1" OSTRIVEL_VERSION "${OSTRIVEL_VERSION_LINE}")
set(OSTRIVEL_PACKAGE ${CMAKE_SOURCE_DIR}/dist/ostrivel-${OSTRIVEL_VERSION}-win64.zip)
add_custom_target(ostrivel_package ALL
  COMMAND ${CMAKE_SOURCE_DIR}/scripts/package-windows ${OSTRIVEL_WINDOWS_DIR} ${OSTRIVEL_WINDOWS_PREFIX} ${CMAKE_SOURCE_DIR}/dist
  COMMENT "Packing the Windows programs into dist/"
  VERBATIM)
add_dependencies(ostrivel_package ostrivel_windows)

# --- tests -------------------------------------------------------------------

# Every Windows program runs in the tests' own Wine prefix, made once (about
# 15 s) by this fixture, so no test touches the user's settings. They share
# the prefix (and its settings file), so they run one at a time.
set(WINDOWS_WINE_PREFIX ${CMAKE_BINARY_DIR}/wine-tests)
add_test(NAME gui_wine_prefix COMMAND sh ${CMAKE_SOURCE_DIR}/tests/gui/wine-prefix.sh ${WINDOWS_WINE_PREFIX})
set_tests_properties(gui_wine_prefix PROPERTIES
  FIXTURES_SETUP gui_wine RESOURCE_LOCK gui_wine TIMEOUT 300 LABELS gui)

# Each core test program, and the tool's test of its stop requests, run
# whole under Wine.
foreach(name ${CORE_TESTS} cli_console_test)
  add_test(NAME windows_${name}
    COMMAND ${CMAKE_SOURCE_DIR}/scripts/wine-run ${WINDOWS_WINE_PREFIX}
            ${OSTRIVEL_WINDOWS_DIR}/tests/${name}.exe --gtest_brief=1)
  set_tests_properties(windows_${name} PROPERTIES
    FIXTURES_REQUIRED gui_wine RESOURCE_LOCK gui_wine TIMEOUT 900 LABELS windows)
endforeach()

# The package: what it holds, programs that Windows runs as they are, and a
# packaged tool that writes the same bytes as the Linux one for every method
# and format.
add_test(NAME windows_package
  COMMAND ${CMAKE_SOURCE_DIR}/scripts/check-windows-package ${WINDOWS_WINE_PREFIX}
          ${OSTRIVEL_PACKAGE} $<TARGET_FILE:ostrivel-repaint>)
set_tests_properties(windows_package PROPERTIES
  FIXTURES_REQUIRED gui_wine RESOURCE_LOCK gui_wine TIMEOUT 900 LABELS windows)

# The window tests, on a virtual screen. On their way they leave screenshots
# of what they drive in build/screenshots, for a look by eye. A program with
# a script of its own beside it (<name>.sh) is run by that script, which also
# gets the Linux tool to compare the editor's results with.
include(${CMAKE_SOURCE_DIR}/tests/gui/gui_tests.cmake)
set(GUI_SCREENSHOTS ${CMAKE_BINARY_DIR}/screenshots)
file(MAKE_DIRECTORY ${GUI_SCREENSHOTS})
foreach(name ${GUI_TESTS})
  set(runner ${CMAKE_SOURCE_DIR}/tests/gui/run-in-wine.sh)
  set(extra)
  if(EXISTS ${CMAKE_SOURCE_DIR}/tests/gui/${name}.sh)
    set(runner ${CMAKE_SOURCE_DIR}/tests/gui/${name}.sh)
    set(extra $<TARGET_FILE:ostrivel-repaint>)
  endif()
  add_test(NAME ${name}
    COMMAND sh ${runner} ${WINDOWS_WINE_PREFIX} 150 ${OSTRIVEL_WINDOWS_DIR}/tests/gui/${name}/${name}.exe ${extra})
  set_tests_properties(${name} PROPERTIES
    FIXTURES_REQUIRED gui_wine RESOURCE_LOCK gui_wine TIMEOUT 180 LABELS gui
    ENVIRONMENT OSTRIVEL_SHOTS=${GUI_SCREENSHOTS}
    # A program that never reaches its summary (its output lost, a crash)
    # fails too.
    PASS_REGULAR_EXPRESSION "gui: [0-9]+ passed, 0 failed"
    FAIL_REGULAR_EXPRESSION "FAIL:")
endforeach()
