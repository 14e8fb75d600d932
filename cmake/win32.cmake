# The Win32 half: the editor and its window tests, built with Wine's tools as
# the nested project win32/ (a CMake project has one C++ compiler), linked
# with the core library built here. Also registers the window tests and the
# MinGW-w64 syntax check with CTest.
include(ExternalProject)

set(OSTRIVEL_WIN32_DIR ${CMAKE_BINARY_DIR}/win32)

ExternalProject_Add(ostrivel_win32
  SOURCE_DIR ${CMAKE_SOURCE_DIR}/win32
  BINARY_DIR ${OSTRIVEL_WIN32_DIR}
  CMAKE_ARGS
    -DCMAKE_TOOLCHAIN_FILE=${CMAKE_SOURCE_DIR}/cmake/toolchain-wine.cmake
    -DCMAKE_BUILD_TYPE=${CMAKE_BUILD_TYPE}
    -DOSTRIVEL_ROOT=${CMAKE_SOURCE_DIR}
    -DOSTRIVEL_CORE_LIBRARY=$<TARGET_FILE:ostrivel_core>
    "-DOSTRIVEL_CORE_LINK=${FREEIMAGE_LIBRARY}$<SEMICOLON>gomp$<SEMICOLON>pthread"
  BUILD_ALWAYS ON
  INSTALL_COMMAND ""
  DEPENDS ostrivel_core
  USES_TERMINAL_BUILD ON)

# --- tests -------------------------------------------------------------------

# Portability: the Win32 sources compile for Windows with MinGW-w64.
add_test(NAME win32_mingw_syntax
  COMMAND ${CMAKE_COMMAND} -DROOT=${CMAKE_SOURCE_DIR} -DOUT=${OSTRIVEL_WIN32_DIR}/mingw-check
          -P ${CMAKE_SOURCE_DIR}/cmake/mingw-syntax-check.cmake)
set_tests_properties(win32_mingw_syntax PROPERTIES TIMEOUT 300 LABELS win32)

# The window tests keep their own Wine prefix under the build folder, made
# once (about 15 s) by the fixture, so they never touch the user's settings.
set(GUI_PREFIX ${CMAKE_BINARY_DIR}/wine-tests)
add_test(NAME gui_wine_prefix COMMAND sh ${CMAKE_SOURCE_DIR}/tests/gui/wine-prefix.sh ${GUI_PREFIX})
set_tests_properties(gui_wine_prefix PROPERTIES
  FIXTURES_SETUP gui_wine RESOURCE_LOCK gui_wine TIMEOUT 300 LABELS gui)

# One test per window test program; they share the prefix (and its settings
# file), so they run one at a time. On their way they leave screenshots of
# what they drive in build/screenshots, for a look by eye.
set(GUI_SCREENSHOTS ${CMAKE_BINARY_DIR}/screenshots)
file(MAKE_DIRECTORY ${GUI_SCREENSHOTS})
file(GLOB GUI_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/gui/*_test.cpp)
# A program with a script of its own beside it (<name>.sh) is run by that
# script, which also gets the command-line tool to compare with.
foreach(source ${GUI_TEST_SOURCES})
  get_filename_component(name ${source} NAME_WE)
  set(runner ${CMAKE_SOURCE_DIR}/tests/gui/run-in-wine.sh)
  set(extra)
  if(EXISTS ${CMAKE_SOURCE_DIR}/tests/gui/${name}.sh)
    set(runner ${CMAKE_SOURCE_DIR}/tests/gui/${name}.sh)
    set(extra $<TARGET_FILE:ostrivel-repaint>)
  endif()
  add_test(NAME ${name}
    COMMAND sh ${runner} ${GUI_PREFIX} 150 ${OSTRIVEL_WIN32_DIR}/tests/gui/${name}/${name}.exe ${extra})
  set_tests_properties(${name} PROPERTIES
    FIXTURES_REQUIRED gui_wine RESOURCE_LOCK gui_wine TIMEOUT 180 LABELS gui
    ENVIRONMENT OSTRIVEL_SHOTS=${GUI_SCREENSHOTS}
    FAIL_REGULAR_EXPRESSION "FAIL:")
endforeach()

