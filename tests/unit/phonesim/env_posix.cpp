#include <cstdlib>

#include "fixture.h"

namespace phonesim_test {
void SetEnv(const char* name, const std::string& utf8) { ::setenv(name, utf8.c_str(), 1); }
}  // namespace phonesim_test
