// The OEM report stage: tells the setup program which OEM code to use, in
// section "Setup" of "Analysis.ini" in the temporary directory.
#include "oem.h"

static const CHAR kReportName[] = "Analysis.ini";
static const CHAR kSection[] = "Setup";
// Stored at full length; a code takes only its first 11 characters.
static const CHAR kRepeatCode[] = "9999999999999999";

void WriteOemReport(LPCSTR launcherPath, LPCSTR tempDir)
{
    CHAR reportPath[MAX_PATH];
    CHAR fileName[MAX_PATH];
    CHAR code[OEM_CODE_SIZE];
    BOOL firstRun;
    BOOL delivered;

    // A report path cut short would name another file. With no report there
    // is no code to deliver, so the marker key is not created either.
    if (!JoinPath(reportPath, MAX_PATH, tempDir, kReportName))
        return;

    firstRun = !MarkerKeyExists(OEM_MARKER_KEY);
    if (firstRun) {
        GetLauncherFileName(launcherPath, fileName, MAX_PATH);
        DeriveOemCode(fileName, code);
    } else {
        lstrcpynA(code, kRepeatCode, OEM_CODE_SIZE);
    }

    delivered = WritePrivateProfileStringA(kSection, "OEM", code, reportPath);
    WritePrivateProfileStringA(kSection, "Times", "1", reportPath);

    // The marker turns every later run into a repeat, so it is set only once
    // this run's code has reached the report: a failed write, or a launcher
    // that could not learn its own name, leaves the first run still to come.
    if (firstRun && delivered && launcherPath[0] != '\0')
        CreateMarkerKey(OEM_MARKER_KEY);
}
