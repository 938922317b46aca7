// The shipped launcher's process entry, in place of the C runtime's start-up.
//
// The launcher uses no C runtime service, so the image carries none: this is
// where the loader jumps. It narrows the DLL search first, then hands
// LauncherMain the four GUI entry arguments as a runtime's start-up would
// and ends the process with its result. The ANSI code page tables a runtime
// would set up are not needed: the core asks KERNEL32 (IsDBCSLeadByte), which
// always follows the system's ANSI code page.
#include "platform.h"

#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#endif

typedef BOOL(WINAPI *SetDefaultDllDirectoriesProc)(DWORD DirectoryFlags);

// A carrier is typically run from a downloads folder, where anyone can leave a
// DLL named like one the system loads on demand. From here on, libraries
// loaded without an explicit path come from the system directory only. The
// service is looked up rather than imported, so systems without it still run
// the launcher (with the older search order).
static void RestrictDllSearch(void)
{
    HMODULE kernel32 = GetModuleHandleA("kernel32.dll");
    FARPROC proc;

    if (kernel32 == NULL)
        return;
    proc = GetProcAddress(kernel32, "SetDefaultDllDirectories");
    if (proc == NULL)
        return;
    ((SetDefaultDllDirectoriesProc) (void (*)(void)) proc)(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

// The command line after the program name and the blanks that follow it, as
// WinMain receives it. The program name ends at its closing quote when it is
// quoted, at the first blank otherwise.
static LPSTR ArgumentsOf(LPSTR commandLine)
{
    LPSTR p = commandLine;

    if (p == NULL)
        return (LPSTR) "";
    if (*p == '"') {
        p++;
        while (*p != '\0' && *p != '"')
            p++;
        if (*p == '"')
            p++;
    } else {
        while (*p != '\0' && *p != ' ' && *p != '\t')
            p++;
    }
    while (*p == ' ' || *p == '\t')
        p++;
    return p;
}

static int ShowCommandOf(void)
{
    STARTUPINFOA startup;

    startup.cb = sizeof(startup);
    startup.dwFlags = 0;
    GetStartupInfoA(&startup);
    if (startup.dwFlags & STARTF_USESHOWWINDOW)
        return startup.wShowWindow;
    return SW_SHOWDEFAULT;
}

extern "C" void WinMainCRTStartup(void)
{
    int result;

    RestrictDllSearch();
    result = LauncherMain(GetModuleHandleA(NULL), NULL, ArgumentsOf(GetCommandLineA()),
                          ShowCommandOf());
    ExitProcess((UINT) result);
}
