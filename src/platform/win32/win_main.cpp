// Entry point of Ventrix_P3D.exe: the Win32 window front end and the start sequence.
#include <windows.h>

#include "core/app.h"
#include "core/wiring.h"
#include "platform/platform.h"
#include "platform/win32/main_window.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
    vntx::installAllHooks();
    vntx::win32::MainWindow window(instance, showCommand,
                                   {vntx::onStartCycle, vntx::onEndProgram, vntx::onCloseButton});
    return vntx::programMain(vntx::platform::commandLineArguments(0, nullptr), window);
}
