#include "tools/zq4810/install_steps.h"

#include "api/exports.h"
#include "tools/zq4810/output.h"

#include <cstdio>

namespace InstallSteps {

namespace {

constexpr int Failure = 255;
constexpr int RemovalSteps = 3; // Parameters, Enum, the service key

} // namespace

bool install(int base, bool* firstSetup)
{
    const int check = AZQ4810CHECKIFDRIVER();
    *firstSetup = check == 1;
    const char* meaning = "unexpected result";
    switch (check) {
    case 0:
        meaning = "already registered";
        break;
    case 1:
        meaning = "first setup: the registration was created";
        break;
    case -1:
        meaning = "first setup declined: nothing registered";
        break;
    case Failure:
        meaning = "registration failed";
        break;
    default:
        break;
    }
    Output::step("AZQ4810CHECKIFDRIVER()", check, meaning);
    if (check != 0 && check != 1) {
        return false;
    }
    char call[48];
    std::snprintf(call, sizeof call, "AZQ4810SETBASEADDRESS(0x%X)", static_cast<unsigned>(base));
    const int written = AZQ4810SETBASEADDRESS(base);
    Output::step(call, written, written == 0 ? "base address written" : "writing the registration failed");
    if (written != 0) {
        return false;
    }
    if (check == 1) {
        Output::line("  The driver starts with the system: restart before using the board.");
    }
    return true;
}

bool remove()
{
    const int result = AZQ4810DELETEALL();
    char meaning[64];
    if (result == 0) {
        std::snprintf(meaning, sizeof meaning, "registration removed");
    } else if (result % Failure == 0 && result / Failure <= RemovalSteps) {
        std::snprintf(meaning, sizeof meaning, "%d of %d removal steps failed", result / Failure,
                      RemovalSteps);
    } else {
        std::snprintf(meaning, sizeof meaning, "unexpected result");
    }
    Output::step("AZQ4810DELETEALL()", result, meaning);
    return result == 0;
}

} // namespace InstallSteps
