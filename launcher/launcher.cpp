// The launch sequence: unpack the payload into the user's temporary
// directory, write the OEM report, start the unpacked setup program, exit 0.
// Nothing is reported and no step's outcome steers the next, except that
// nothing runs without a usable temporary directory: every path is built
// from it, and a path built from an empty or relative one would act on the
// current directory instead.
#include "carrier.h"
#include "oem.h"
#include "platform.h"

static const CHAR kSetupProgram[] = "setup.exe";

// GetTempPathA's result is usable when it fit the buffer and names an
// absolute directory: a drive ("C:\"), a UNC or POSIX root ("\\", "/").
static BOOL TempDirIsUsable(LPCSTR tempDir, DWORD length)
{
    if (length == 0 || length >= MAX_PATH)
        return FALSE;
    if (tempDir[0] == '\\' || tempDir[0] == '/')
        return TRUE;
    return ((tempDir[0] | 0x20) >= 'a' && (tempDir[0] | 0x20) <= 'z') && tempDir[1] == ':' &&
           (tempDir[2] == '\\' || tempDir[2] == '/');
}

// The program path is quoted: unquoted, a temporary directory holding spaces
// would let a program at a shorter prefix ("C:\Documents.exe") run instead.
static BOOL BuildSetupCommand(LPSTR command, LPCSTR tempDir)
{
    CHAR program[MAX_PATH];

    if (!JoinPath(program, MAX_PATH, tempDir, kSetupProgram))
        return FALSE;
    if (lstrlenA(program) > MAX_PATH - 3)
        return FALSE;
    lstrcpyA(command, "\"");
    lstrcatA(command, program);
    lstrcatA(command, "\"");
    return TRUE;
}

int WINAPI LauncherMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    CHAR launcherPath[MAX_PATH];
    CHAR tempDir[MAX_PATH];
    CHAR command[MAX_PATH];
    DWORD length;

    // A truncated module path names another file; an empty one opens nothing.
    length = GetModuleFileNameA(NULL, launcherPath, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        launcherPath[0] = '\0';

    length = GetTempPathA(MAX_PATH, tempDir);
    if (!TempDirIsUsable(tempDir, length))
        return 0;

    ExtractPayload(launcherPath, tempDir);
    WriteOemReport(launcherPath, tempDir);
    if (BuildSetupCommand(command, tempDir))
        WinExec(command, SW_SHOW);
    return 0;
}
