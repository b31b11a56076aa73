// install and remove: the driver's registration, once per machine.
#include "tools/zq4810/args.h"
#include "tools/zq4810/commands.h"
#include "tools/zq4810/install_steps.h"

namespace Commands {

int install(int argc, char** argv)
{
    if (argc != 1) {
        return argc == 0 ? usageError("install", "install needs the base address")
                         : usageError("install", "unexpected argument '%s'", argv[1]);
    }
    int base = 0;
    Args::Error error;
    if (!Args::baseAddress(argv[0], &base, &error)) {
        return usageError("install", "%s", error.text);
    }
    bool firstSetup = false;
    return InstallSteps::install(base, &firstSetup) ? Done : Failed;
}

int remove(int argc, char** argv)
{
    const int refused = noArguments("remove", argc, argv);
    if (refused != Done) {
        return refused;
    }
    return InstallSteps::remove() ? Done : Failed;
}

} // namespace Commands
