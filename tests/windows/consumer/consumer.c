/* Exits with 0 when the installed library answers as documented. */
#include <2KZQ4810/exports.h>

int main(void)
{
    return AZQ4810READPOSITION(9) == 1 && AZQ4810SETMULTIPLIER(3) == 1 && AZQ4810CHANGEMODE(-1, 0) == 0 ? 0 : 1;
}
