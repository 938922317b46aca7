// The one header the core includes for operating-system services.
//
// The core calls the Windows services by their own names, types, constants
// and failure values. CMake puts exactly one backend directory on the include
// path (platform/win or platform/posix); its os.h supplies those names.
#ifndef PLATFORM_PLATFORM_H
#define PLATFORM_PLATFORM_H

#include "os.h"

// The program's main routine, called by the backend's process entry with the
// four GUI entry arguments; its result is the process exit code.
int WINAPI LauncherMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPSTR lpCmdLine,
                        int nShowCmd);

// Copies dir and then name into path, a buffer of size bytes. Returns FALSE,
// with path emptied, when the joined string and its NUL would not fit: a
// path is never cut short, since a shortened path names another file.
// Portable: built only on the string services above.
BOOL JoinPath(LPSTR path, int size, LPCSTR dir, LPCSTR name);

#endif
