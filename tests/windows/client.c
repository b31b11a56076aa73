/* An application in C that uses the DLL through an import library, as a
 * customer's program would. It asks only what the library answers without a
 * board, and exits with the number of wrong answers. */
#include "2KZQ4810/exports.h"

static int wrongAnswers(void)
{
    int wrong = 0;
    wrong += AZQ4810READPOSITION(9) != 1;
    wrong += AZQ4810RESETCOUNTER(-1) != 1;
    wrong += AZQ4810SETMULTIPLIER(3) != 1;
    wrong += AZQ4810PRWRITE(4, 0x123456) != 1;
    wrong += AZQ4810CHANGEMODE(5, 2) != 0;
    return wrong;
}

#ifdef ZQ4810_NO_CRT
/* Without a C runtime the process starts here, and what this returns is the
 * process's exit code. */
unsigned long __stdcall clientEntry(void* environment);
unsigned long __stdcall clientEntry(void* environment)
{
    (void)environment;
    return (unsigned long)wrongAnswers();
}
#else
int main(void)
{
    return wrongAnswers();
}
#endif
