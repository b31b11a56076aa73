/* The public header on its own, as C or C++, with any Windows compiler: each
 * function must have exactly the type and calling convention callers are
 * promised, or these initialisations do not compile. */
#include "2KZQ4810/exports.h"

typedef int(__stdcall* NoArgument)(void);
typedef int(__stdcall* OneArgument)(int);
typedef int(__stdcall* TwoArguments)(int, int);

extern const NoArgument noArgument[];
extern const OneArgument oneArgument[];
extern const TwoArguments twoArguments[];

const NoArgument noArgument[] = {AZQ4810CHECKIFDRIVER, AZQ4810INITIALIZE, AZQ4810CLOSE, AZQ4810DELETE,
                                 AZQ4810DELETEALL};
const OneArgument oneArgument[] = {AZQ4810SETBASEADDRESS, AZQ4810READPOSITION, AZQ4810RESETCOUNTER,
                                   AZQ4810SETMULTIPLIER};
const TwoArguments twoArguments[] = {AZQ4810CHANGEMODE, AZQ4810PRWRITE};

/* Twice is harmless. */
#include "2KZQ4810/exports.h"
