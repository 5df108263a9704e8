/* Stands in for a running iTunes: the program looks for a process named exactly "iTunes.exe".
   It does nothing and lives until it is killed. */
#include <windows.h>

int main(void) {
    for (;;) Sleep(INFINITE);
}
