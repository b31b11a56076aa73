#include "tools/zq4810/install_steps.h"

#include "2KZQ4810/exports.h"
#include "zq4810/registry_paths.h"
#include "tools/zq4810/output.h"
#include "tools/zq4810/target.h"

#include <cstdio>

namespace InstallSteps {

namespace {

constexpr int RemovalSteps = 3; // Parameters, Enum, the service key

// The driver reads its registration only when it starts, so a new base is
// not in use before the next restart, whether or not a registration was there.
constexpr const char RestartFirstSetup[] = "  The driver starts with the system: restart before using the board.";
constexpr const char RestartNewBase[] =
    "  The driver takes the base address when it starts: restart before using the board at 0x%X.";
constexpr const char NothingToRemove[] = "  The driver is not registered on this machine: nothing to remove.";

} // namespace

bool install(int base, bool* firstSetup)
{
    const int check = AZQ4810CHECKIFDRIVER();
    *firstSetup = check == ZQ4810_FIRST_SETUP;
    const char* meaning = "unexpected result";
    switch (check) {
    case ZQ4810_SUCCESS:
        meaning = "already registered";
        break;
    case ZQ4810_FIRST_SETUP:
        meaning = "first setup: the registration was created";
        break;
    case ZQ4810_DECLINED:
        meaning = "first setup declined: nothing registered";
        break;
    case ZQ4810_FAILURE:
        meaning = "registration failed";
        break;
    default:
        break;
    }
    Output::step("AZQ4810CHECKIFDRIVER()", check, meaning);
    if (check != ZQ4810_SUCCESS && check != ZQ4810_FIRST_SETUP) {
        return false;
    }
    char call[48];
    std::snprintf(call, sizeof call, "AZQ4810SETBASEADDRESS(0x%X)", static_cast<unsigned>(base));
    const int written = AZQ4810SETBASEADDRESS(base);
    Output::step(call, written, written == ZQ4810_SUCCESS ? "base address written" : "writing the registration failed");
    if (written != ZQ4810_SUCCESS) {
        return false;
    }
    if (check == ZQ4810_FIRST_SETUP) {
        Output::line("%s", RestartFirstSetup);
    } else {
        Output::line(RestartNewBase, static_cast<unsigned>(base));
    }
    return true;
}

bool remove()
{
    // Removing what is not there would only fail three times, each with a
    // notice that waits for the user.
    if (Target::registryKey(RegistryPaths::ServiceKey) == Target::Presence::Absent) {
        Output::line("%s", NothingToRemove);
        return true;
    }
    const int result = AZQ4810DELETEALL();
    char meaning[64];
    if (result == ZQ4810_SUCCESS) {
        std::snprintf(meaning, sizeof meaning, "registration removed");
    } else if (result % ZQ4810_FAILURE == 0 && result / ZQ4810_FAILURE <= RemovalSteps) {
        std::snprintf(meaning, sizeof meaning, "%d of %d removal steps failed", result / ZQ4810_FAILURE,
                      RemovalSteps);
    } else {
        std::snprintf(meaning, sizeof meaning, "unexpected result");
    }
    Output::step("AZQ4810DELETEALL()", result, meaning);
    return result == ZQ4810_SUCCESS;
}

} // namespace InstallSteps
