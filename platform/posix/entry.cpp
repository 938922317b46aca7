// The process entry on POSIX systems: calls LauncherMain as the Windows
// runtime's start-up would, with the four GUI entry arguments, and exits with
// its result.
#include "platform.h"

int main(void)
{
    return LauncherMain(NULL, NULL, (LPSTR) "", SW_SHOWDEFAULT);
}
