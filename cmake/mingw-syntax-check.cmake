# cmake -DROOT=<source> -DOUT=<folder> -P mingw-syntax-check.cmake
# Compiles every Win32 source (syntax only) and the resource script with
# MinGW-w64, so the code stays buildable for Windows. Warnings count as
# failures, as they would in a Windows build with -Wall -Wextra.
find_program(MINGW_CXX x86_64-w64-mingw32-g++ REQUIRED)
find_program(MINGW_WINDRES x86_64-w64-mingw32-windres REQUIRED)
file(GLOB sources
  ${ROOT}/app/*.cpp ${ROOT}/settings/*.cpp ${ROOT}/skin/*.cpp ${ROOT}/dialogs/*.cpp ${ROOT}/tests/gui/*.cpp)
file(MAKE_DIRECTORY ${OUT})
set(failures 0)
foreach(source ${sources})
  execute_process(
    COMMAND ${MINGW_CXX} -std=c++17 -fsyntax-only -Wall -Wextra -Werror -DUNICODE -D_UNICODE -DNOMINMAX -I${ROOT} ${source}
    RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(NOT result EQUAL 0)
    message("FAIL: ${source}\n${output}")
    math(EXPR failures "${failures} + 1")
  endif()
endforeach()
execute_process(
  COMMAND ${MINGW_WINDRES} -I${ROOT}/resources ${ROOT}/resources/ostrivel.rc -O coff -o ${OUT}/ostrivel.res
  RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT result EQUAL 0)
  message("FAIL: resources/ostrivel.rc\n${output}")
  math(EXPR failures "${failures} + 1")
endif()
list(LENGTH sources count)
if(failures GREATER 0)
  message(FATAL_ERROR "mingw: ${failures} of ${count} sources and the resources failed")
endif()
message("mingw: ${count} sources and the resources compile")
