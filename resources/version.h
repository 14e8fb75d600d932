// The program's version, in one place: the About box, the version resources
// of the editor and of the command-line tool, and the package's name.
#pragma once

#define OSTRIVEL_VERSION_NUMBERS 1, 0, 0, 0
#define OSTRIVEL_VERSION_TEXT "1.0"
#define OSTRIVEL_VERSION_WIDE L"1.0"
