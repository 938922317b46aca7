// The setup program of the Windows end-to-end test: copies the report it
// finds beside itself, then marks that it ran. The marker is moved into place
// last, so a test that sees it also sees the whole copy.
#include <windows.h>

int main()
{
    char dir[MAX_PATH], from[MAX_PATH], to[MAX_PATH], mark[MAX_PATH], done[MAX_PATH];
    DWORD n = GetModuleFileNameA(NULL, dir, MAX_PATH);
    if (n == 0 || n >= MAX_PATH)
        return 1;
    char *slash = strrchr(dir, '\\');
    if (!slash)
        return 1;
    slash[1] = '\0';
    wsprintfA(from, "%sAnalysis.ini", dir);
    wsprintfA(to, "%sseen.ini", dir);
    wsprintfA(mark, "%sran.tmp", dir);
    wsprintfA(done, "%sran.txt", dir);
    CopyFileA(from, to, FALSE);
    HANDLE h = CreateFileA(mark, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    if (h == INVALID_HANDLE_VALUE)
        return 1;
    DWORD written;
    WriteFile(h, "ran\r\n", 5, &written, NULL);
    CloseHandle(h);
    return MoveFileExA(mark, done, MOVEFILE_REPLACE_EXISTING) ? 0 : 1;
}
