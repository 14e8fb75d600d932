# The core, the command-line tool and the core's tests for 64-bit Windows:
# this same project configured with cmake/toolchain-mingw.cmake as a nested
# project in build/windows, against the libraries scripts/build-windows-deps
# builds once from Debian's sources into build/windows-deps. Registers the
# Windows tests, which run under Wine.
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
    -DOSTRIVEL_WIN32=OFF -DOSTRIVEL_WINDOWS=OFF -DOSTRIVEL_FUZZ=OFF -DOSTRIVEL_BENCH=OFF
  BUILD_ALWAYS ON
  INSTALL_COMMAND ""
  DEPENDS ostrivel_windows_deps
  USES_TERMINAL_BUILD ON)

# --- tests -------------------------------------------------------------------

# The Windows programs share the window tests' Wine prefix (made once by
# their fixture); without the editor's build the fixture is registered here.
set(WINDOWS_WINE_PREFIX ${CMAKE_BINARY_DIR}/wine-tests)
if(NOT TEST gui_wine_prefix)
  add_test(NAME gui_wine_prefix COMMAND sh ${CMAKE_SOURCE_DIR}/tests/gui/wine-prefix.sh ${WINDOWS_WINE_PREFIX})
  set_tests_properties(gui_wine_prefix PROPERTIES
    FIXTURES_SETUP gui_wine RESOURCE_LOCK gui_wine TIMEOUT 300 LABELS gui)
endif()

# Each core test program, run whole under Wine.
file(GLOB WINDOWS_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/*_test.cpp)
list(FILTER WINDOWS_TEST_SOURCES EXCLUDE REGEX "/cli_test\\.cpp$")
foreach(source ${WINDOWS_TEST_SOURCES})
  get_filename_component(name ${source} NAME_WE)
  add_test(NAME windows_${name}
    COMMAND ${CMAKE_SOURCE_DIR}/scripts/wine-run ${WINDOWS_WINE_PREFIX}
            ${OSTRIVEL_WINDOWS_DIR}/tests/${name}.exe --gtest_brief=1)
  set_tests_properties(windows_${name} PROPERTIES
    FIXTURES_REQUIRED gui_wine RESOURCE_LOCK gui_wine TIMEOUT 900 LABELS windows)
endforeach()

# The Windows tool: a PE32+ program that imports only system DLLs and
# writes the same bytes as the Linux one for every method and format.
add_test(NAME windows_tool_matches_linux
  COMMAND ${CMAKE_SOURCE_DIR}/scripts/compare-windows-tool ${WINDOWS_WINE_PREFIX}
          ${OSTRIVEL_WINDOWS_DIR}/cli/ostrivel-repaint.exe $<TARGET_FILE:ostrivel-repaint>)
set_tests_properties(windows_tool_matches_linux PROPERTIES
  FIXTURES_REQUIRED gui_wine RESOURCE_LOCK gui_wine TIMEOUT 900 LABELS windows)
