// The program's life from process start to exit: runtime start, the
// plug-ins and their entry points, the application object, the main window,
// the event loop inside one exception handler, finalisation and exit.
// Main thread.
#pragma once

#include <functional>
#include <string_view>

// The whole process life; the result is the exit status.
int ChimewickMain(int argc, char** argv);

// The steps inside the one exception handler: the plug-in classes, their
// entry points, FileTypes, the application object, the main window and the
// event loop. An escaping exception goes to the unhandled-exception handler.
void _Main();
void _InitFileTypes();
void _NewAppInstance();
void _ApplicationAddMenuHandlers();
void _MakeDefaultView();
// Releases the cached pictures, the window lists, FileTypes and the menubar,
// in that order.
void Finalise();

// Test seam: called with the name of each step of _Main as it begins
// ("RuntimeRun", "_MakeDefaultView", ...). A step hook may throw to stand for
// a failing step.
void SetProcessLifeObserverForTesting(std::function<void(std::string_view)> observer);
