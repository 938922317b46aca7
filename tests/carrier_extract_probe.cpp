// Extracts one carrier in a process of its own and prints the process's peak
// resident set in KiB, so a test can measure the memory extraction takes:
//   carrier_extract_probe CARRIER TEMPDIR
// The peak is read from /proc/self/status (VmHWM): it belongs to this
// program's image alone, unlike the rusage figure, which also counts the
// forking test process as it was before exec.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "carrier.h"

static long PeakResidentKib(void)
{
    char line[256];
    long peak = -1;
    FILE *status = fopen("/proc/self/status", "r");

    if (status == NULL)
        return -1;
    while (fgets(line, sizeof line, status) != NULL)
        if (strncmp(line, "VmHWM:", 6) == 0)
            peak = strtol(line + 6, NULL, 10);
    fclose(status);
    return peak;
}

int main(int argc, char **argv)
{
    if (argc != 3)
        return 2;
    ExtractPayload(argv[1], argv[2]);
    printf("%ld\n", PeakResidentKib());
    return 0;
}
