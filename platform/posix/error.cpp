// GetLastError / SetLastError: the calling thread's last error, as on Windows.
#include "os.h"

static thread_local DWORD last_error;

DWORD GetLastError(void) { return last_error; }

void SetLastError(DWORD dwErrCode) { last_error = dwErrCode; }
