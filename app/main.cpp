// Entry point of the editor. The command line is not read.
#include "app.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int showCommand) {
    return RunOstrivel(instance, showCommand);
}
