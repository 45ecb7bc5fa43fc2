// The program's start-up and end, shared by the program and its tests.
#pragma once

// Creates the permanent windows in their start-up order (main window, log,
// about box, loading splash, Select EVM, EEPROM applications, network
// dialog); the GUI layer
// must be installed.
void CreatePermanentWindows();
// Destroys them: the main window first (it stops its watcher and its board
// windows), then the others in reverse order.
void DestroyPermanentWindows();

// The whole program: locale, application object, windows, message loop.
int RunPalisar(int argc, char** argv);
