# Builds the Win32 half as a Winelib program with Wine's own tools: wineg++
# compiles against Wine's Windows headers (16-bit wchar_t) and links an ELF
# program that runs under wine; wrc compiles the resources.
set(CMAKE_C_COMPILER winegcc)
set(CMAKE_CXX_COMPILER wineg++)
set(CMAKE_RC_COMPILER wrc)
# CMake's default resource rule passes /fo, which wrc does not know.
set(CMAKE_RC_COMPILE_OBJECT "<CMAKE_RC_COMPILER> <DEFINES> <INCLUDES> <FLAGS> -o <OBJECT> <SOURCE>")
set(OSTRIVEL_WINELIB ON)
