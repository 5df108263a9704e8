/* The browser of the test prefix: registered as the handler of http and https, it appends the
   address it was asked to open (its command line after the program name) as one UTF-8 line to
   the file named by CHIMEBOX_E2E_BROWSER_LOG. */
#include <windows.h>

static const wchar_t* SkipProgramName(const wchar_t* line) {
    if (*line == L'"') {
        ++line;
        while (*line && *line != L'"') ++line;
        if (*line) ++line;
    } else {
        while (*line && *line != L' ' && *line != L'\t') ++line;
    }
    while (*line == L' ' || *line == L'\t') ++line;
    return line;
}

int main(void) {
    wchar_t logPath[MAX_PATH * 4];
    DWORD n = GetEnvironmentVariableW(L"CHIMEBOX_E2E_BROWSER_LOG", logPath, sizeof logPath / sizeof *logPath);
    if (n == 0 || n >= sizeof logPath / sizeof *logPath) return 2;
    const wchar_t* url = SkipProgramName(GetCommandLineW());
    int wide = lstrlenW(url);
    int bytes = WideCharToMultiByte(CP_UTF8, 0, url, wide, NULL, 0, NULL, NULL);
    char* text = HeapAlloc(GetProcessHeap(), 0, (SIZE_T)bytes + 2);
    if (!text) return 3;
    WideCharToMultiByte(CP_UTF8, 0, url, wide, text, bytes, NULL, NULL);
    text[bytes++] = '\n';
    HANDLE log = CreateFileW(logPath, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, NULL);
    if (log == INVALID_HANDLE_VALUE) return 4;
    DWORD written = 0;
    WriteFile(log, text, (DWORD)bytes, &written, NULL);
    CloseHandle(log);
    return written == (DWORD)bytes ? 0 : 5;
}
