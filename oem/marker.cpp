// The per-user marker key: present once the launcher has delivered a first
// run's code for this account. Keys are closed as soon as they are opened.
#include "oem.h"

BOOL MarkerKeyExists(LPCSTR keyPath)
{
    HKEY key;

    if (RegOpenKeyExA(HKEY_CURRENT_USER, keyPath, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return FALSE;
    RegCloseKey(key);
    return TRUE;
}

BOOL CreateMarkerKey(LPCSTR keyPath)
{
    HKEY key;

    if (RegCreateKeyExA(HKEY_CURRENT_USER, keyPath, 0, NULL, REG_OPTION_NON_VOLATILE, KEY_WRITE,
                        NULL, &key, NULL) != ERROR_SUCCESS)
        return FALSE;
    RegCloseKey(key);
    return TRUE;
}
