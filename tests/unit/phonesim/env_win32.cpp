// The libraries read the process environment block, so set it there (not in this CRT's copy).
#include <windows.h>

#include "fixture.h"

namespace phonesim_test {
void SetEnv(const char* name, const std::string& utf8) {
    const std::wstring wideName = PathFromUtf8(name).wstring();
    const std::wstring wideValue = PathFromUtf8(utf8).wstring();
    SetEnvironmentVariableW(wideName.c_str(), wideValue.c_str());
}
}  // namespace phonesim_test
