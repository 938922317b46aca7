// Helpers for the OEM report tests, on both the emulation and the real
// services: code pages, the marker key and the expected report bytes.
// Header-only, so the services they call resolve against whichever backend
// the test links.
#ifndef TESTS_SUPPORT_OEM_SUPPORT_H
#define TESTS_SUPPORT_OEM_SUPPORT_H

#include <string>

#include "oem.h"

namespace oem_test {

// Everything below the marker key's vendor level, removed between cases.
inline constexpr char kMarkerRoot[] = "Software\\Corvane";

// A launcher path whose name carries a valid code, and that code.
inline constexpr char kCodedPath[] = "C:\\Users\\Ana\\Downloads\\Quillmere_20261211001.exe";
inline constexpr char kCodedName[] = "20261211001";
inline constexpr char kRepeatCode[] = "99999999999";
inline constexpr char kFallbackCode[] = "00000000000";

// The locale that selects an ANSI code page: the emulation reads it at every
// call, Wine only when the process starts.
inline const char *LocaleFor(UINT codePage)
{
    switch (codePage) {
    case 936:
        return "zh_CN.GBK";
    case 932:
        return "ja_JP.SJIS";
    default:
        return "C.UTF-8";
    }
}

inline bool KeyExists(const char *path)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, path, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

inline bool CreateKey(const char *path)
{
    HKEY key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, path, 0, NULL, REG_OPTION_NON_VOLATILE, KEY_WRITE, NULL,
                        &key, NULL) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

// Removes the marker key and everything around it that a case created.
inline void ResetMarker() { RegDeleteTreeA(HKEY_CURRENT_USER, kMarkerRoot); }

// The bytes of a report file the stage creates from nothing.
inline std::string NewReport(const std::string &code)
{
    return "[Setup]\r\nOEM=" + code + "\r\nTimes=1\r\n";
}

} // namespace oem_test

#endif
