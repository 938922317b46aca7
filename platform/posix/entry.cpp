// The process entry on POSIX systems: calls LauncherMain as the Windows
// runtime's start-up would, with the four GUI entry arguments, and exits with
// its result. The runtime's other duty, setting up the double-byte tables of
// the ANSI code page, needs nothing here: GetACP and IsDBCSLeadByte take the
// code page from the locale environment when asked.
#include "platform.h"

int main(void)
{
    return LauncherMain(NULL, NULL, (LPSTR) "", SW_SHOWDEFAULT);
}
