// Finding Apple's mobile device support and making its libraries loadable.
#pragma once

#include <string>

// The folder holding "Mobile Device Support", "Apple Application Support" and "CoreFP", ending
// with a backslash; empty when Apple's support is not installed.
std::u16string FindAppleSupportRoot();

// Puts Apple's three folders at the front of PATH and loads three support libraries ahead.
void PrepareAppleSearchPath(const std::u16string& root);
