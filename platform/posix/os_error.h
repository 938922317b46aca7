// Windows error codes for POSIX failures, for the emulated services.
#ifndef PLATFORM_POSIX_OS_ERROR_H
#define PLATFORM_POSIX_OS_ERROR_H

#include "os.h"

// The Windows error a service reports for errno value error. Errors with no
// close Windows counterpart become fallback, the error the calling service
// documents for a failure of its own kind (a read fault, a write fault).
DWORD ErrorFromErrno(int error, DWORD fallback);

#endif
