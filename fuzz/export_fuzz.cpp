// Drives the exports with whatever the fuzzer makes up: arbitrary 32-bit
// arguments, interleaved with simulator faults, scripted Yes/No answers and
// board motion. After every export call it checks what must hold whatever
// the input:
// - a refused argument caused no platform call and no notice;
// - at most two device handles are open, and no registry key handle;
// - a sum of write results is 255 per failed write, one notice per failed
//   request (and per read of the wrong length);
// - each mode port holds what the library last sent it, and what it sent is
//   the value a model of the mode fields composes from the calls so far;
// - the registration's results match the registry: a successful
//   SETBASEADDRESS left the base address and the service values as written,
//   CHECKIFDRIVER's answer matches whether the key was there before and after,
//   a successful removal left no service key.
// The sanitizers watch everything else.
#include "2KZQ4810/exports.h"
#include "zq4810/registry_paths.h"
#include "platform/sim/control.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// ---- Reading the input -----------------------------------------------------

struct Input {
    const uint8_t* data;
    size_t size;

    bool empty() const { return size == 0; }
    uint8_t byte()
    {
        if (size == 0) {
            return 0;
        }
        --size;
        return *data++;
    }
    // Half the time a small number around the valid ranges (-1..6), else any
    // 32-bit value.
    int32_t argument()
    {
        const uint8_t b = byte();
        if ((b & 0x80) == 0) {
            return static_cast<int32_t>(b & 0x07) - 1;
        }
        uint32_t value = 0;
        for (int i = 0; i < 4; ++i) {
            value = value << 8 | byte();
        }
        return static_cast<int32_t>(value);
    }
};

// ---- What the library must have done ---------------------------------------

[[noreturn]] void broken(const char* what, const char* call, long result)
{
    std::fprintf(stderr, "fuzz: %s after %s (result %ld)\ntrace: %s\n", what, call, result, Sim::trace());
    std::abort();
}

void require(bool holds, const char* what, const char* call, long result)
{
    if (!holds) {
        broken(what, call, result);
    }
}

// The mode fields as the library must compose them, and what each mode port
// holds: the last byte sent to it that arrived.
struct ModeModel {
    int32_t shadow[2];
    int port[2];
};

ModeModel model;
bool wrongLengthReads; // the driver reports other than one byte for a read
// Which device handles the library holds: a request on a handle that is not
// open is never sent (no trace), yet fails with its notice.
bool readOpen;
bool writeOpen;

struct Traffic {
    int writes;
    int failedWrites;
    int reads;
    int failedReads;
};

// Walks the requests of one call: counts them and checks every mode port
// write against the model's composed value, updating what the port holds.
Traffic walk(const char* call, long result)
{
    Traffic t{0, 0, 0, 0};
    require(Sim::requestCount() <= 1024, "more requests than the log keeps", call, result);
    for (int i = 0; i < Sim::requestCount(); ++i) {
        const Sim::PortRequest request = Sim::request(i);
        const bool write = request.kind == Sim::PortRequest::Write;
        require(write || request.kind == Sim::PortRequest::Read, "a request that is neither a read nor a write",
                call, result);
        require(!request.otherDirection, "a request on the handle of the other direction", call, result);
        const uint32_t port = request.port;
        require(port <= 9, "a port outside 0..9", call, result);
        require(write || port < 8, "a read of a port other than a data port", call, result);
        require(write || port % 2 == 0, "a read of a control port", call, result);
        if (write) {
            ++t.writes;
            t.failedWrites += request.failed ? 1 : 0;
            if (port >= 8) {
                const uint32_t m = port - 8;
                require(request.byte == (model.shadow[m] & 0xFF), "a mode port sent other than its composed value",
                        call, result);
                if (!request.failed) {
                    model.port[m] = request.byte;
                }
            }
        } else {
            ++t.reads;
            t.failedReads += request.failed ? 1 : 0;
        }
    }
    return t;
}

void checkAfter(const char* call, long result, bool refused)
{
    require(Sim::openDeviceHandles() <= 2, "more than two device handles open", call, result);
    require(Sim::openRegistryKeys() == 0, "a registry key handle left open", call, result);
    if (refused) {
        require(Sim::callCount(Sim::Call::Any) == 0, "platform calls for a refused argument", call, result);
        require(Sim::trace()[0] == '\0', "port traffic for a refused argument", call, result);
        require(Sim::noticeCount() == 0, "a notice for a refused argument", call, result);
    }
    for (int i = 0; i < 2; ++i) {
        require(Sim::modePort(8 + i) == model.port[i], "a mode port holds other than what was last sent",
                call, result);
    }
}

// ---- The registry ------------------------------------------------------------

using RegistryPaths::ParametersKey;
using RegistryPaths::ServiceKey;

// Whether a registry fault may strike this call (by name, which lasts for the
// input, or by number, armed for this call).
bool registryFaults;
bool namedRegistryFault;  // set for the rest of the input
bool armedRegistryFault;  // for the next export call only

// A REG_DWORD value, or -1 when it is missing or of another shape.
int64_t dword(const char* path, const char* name)
{
    uint32_t type = 0;
    uint8_t data[4] = {};
    uint32_t size = sizeof data;
    if (!Sim::registryValue(path, name, &type, data, &size) || type != 4 || size != 4) {
        return -1;
    }
    return static_cast<int64_t>(static_cast<uint32_t>(data[0] | data[1] << 8 | data[2] << 16) |
                                static_cast<uint32_t>(data[3]) << 24);
}

// ---- The calls ---------------------------------------------------------------

enum Op : uint8_t {
    Initialize,
    ReadPosition,
    ResetCounter,
    SetMultiplier,
    ChangeMode,
    PresetWrite,
    Close,
    CheckIfDriver,
    SetBaseAddress,
    Delete,
    DeleteAll,
    FaultNext,
    ReplyLength,
    CorruptEcho,
    Answers,
    Move,
    RegistryFault,
    OpCount
};

bool isAxis(int32_t axis)
{
    return axis >= 0 && axis <= 3;
}

// A counter operation of this many writes and reads: the requests the
// library sent, the ones that failed (unsent ones included), and one notice
// for each failure and each read of the wrong length. Returns the failed writes.
int checkRequests(const char* call, long result, const Traffic& t, int writes, int reads)
{
    require(t.writes == (writeOpen ? writes : 0) && t.reads <= (readOpen ? reads : 0),
            "not the operation's requests", call, result);
    const int failedWrites = t.failedWrites + (writeOpen ? 0 : writes);
    const int failedReads = t.failedReads + (readOpen ? 0 : t.reads == 0 ? reads : 0);
    const int shortNotices = wrongLengthReads ? t.reads - t.failedReads : 0;
    require(Sim::noticeCount() == failedWrites + failedReads + shortNotices, "not one notice per failed request",
            call, result);
    return failedWrites;
}

// One export call, its argument checks and its result rules.
void callExport(Op op, Input& in)
{
    Sim::clearTrace();
    Sim::clearNotices();
    switch (op) {
    case Initialize: {
        const long r = AZQ4810INITIALIZE();
        const bool opened = r != 255;
        if (opened) {
            model.shadow[0] = 0;
            model.shadow[1] = 0;
        }
        // The previous pair is closed first; a failed write opening keeps the
        // read handle.
        readOpen = opened || Sim::openDeviceHandles() == 1;
        writeOpen = opened;
        const Traffic t = walk("INITIALIZE", r);
        if (opened) {
            require(r >= 0 && r <= 15, "INITIALIZE mask", "INITIALIZE", r);
            require(Sim::openDeviceHandles() == 2, "INITIALIZE opened but not two handles", "INITIALIZE", r);
            // Set-up writes: 2 mode ports, 12 per axis; up to 3 reads per axis.
            require(t.writes == 50 && t.reads >= 4 && t.reads <= 12, "INITIALIZE traffic", "INITIALIZE", r);
            const int shortNotices = wrongLengthReads ? t.reads - t.failedReads : 0;
            require(Sim::noticeCount() == t.failedWrites + t.failedReads + shortNotices,
                    "not one notice per failed request", "INITIALIZE", r);
        } else {
            require(t.writes + t.reads == 0 && Sim::noticeCount() == 1, "INITIALIZE failed opening",
                    "INITIALIZE", r);
        }
        checkAfter("INITIALIZE", r, false);
        break;
    }
    case ReadPosition: {
        const int32_t axis = in.argument();
        const long r = AZQ4810READPOSITION(axis);
        const Traffic t = walk("READPOSITION", r);
        if (isAxis(axis)) {
            require(r >= -8388608 && r <= 8388607, "READPOSITION count outside 24 bits", "READPOSITION", r);
            require(t.reads == (readOpen ? 3 : 0), "READPOSITION reads", "READPOSITION", r);
            checkRequests("READPOSITION", r, t, 2, 3);
        } else {
            require(r == 1, "READPOSITION refusal", "READPOSITION", r);
        }
        checkAfter("READPOSITION", r, !isAxis(axis));
        break;
    }
    case ResetCounter: {
        const int32_t axis = in.argument();
        const long r = AZQ4810RESETCOUNTER(axis);
        const Traffic t = walk("RESETCOUNTER", r);
        if (isAxis(axis)) {
            require(r == 255L * checkRequests("RESETCOUNTER", r, t, 1, 0), "RESETCOUNTER result", "RESETCOUNTER",
                    r);
        } else {
            require(r == 1, "RESETCOUNTER refusal", "RESETCOUNTER", r);
        }
        checkAfter("RESETCOUNTER", r, !isAxis(axis));
        break;
    }
    case SetMultiplier: {
        const int32_t multiplier = in.argument();
        const long r = AZQ4810SETMULTIPLIER(multiplier);
        const Traffic t = walk("SETMULTIPLIER", r);
        const bool accepted = multiplier == 1 || multiplier == 2 || multiplier == 4;
        if (accepted) {
            require(r == 255L * checkRequests("SETMULTIPLIER", r, t, 4, 0), "SETMULTIPLIER result",
                    "SETMULTIPLIER", r);
        } else {
            require(r == 1, "SETMULTIPLIER refusal", "SETMULTIPLIER", r);
        }
        checkAfter("SETMULTIPLIER", r, !accepted);
        break;
    }
    case ChangeMode: {
        const int32_t selector = in.argument();
        const int32_t mode = in.argument();
        // The field is the mode's low four bits; the shadows are composed
        // before the write, whatever it gives.
        const int32_t field = mode & 0x0F;
        switch (static_cast<uint32_t>(selector)) {
        case 0: model.shadow[0] = (model.shadow[0] & 0xF0) | field; break;
        case 1: model.shadow[0] = (model.shadow[0] & 0x0F) | field << 4; break;
        case 2: model.shadow[1] = (model.shadow[1] & 0xF0) | field; break;
        case 3: model.shadow[1] = (model.shadow[1] & 0x0F) | field << 4; break;
        case 4: model.shadow[0] = model.shadow[1] = field | field << 4; break;
        default: break;
        }
        const long r = AZQ4810CHANGEMODE(selector, mode);
        const Traffic t = walk("CHANGEMODE", r);
        const bool accepted = static_cast<uint32_t>(selector) <= 4;
        if (accepted) {
            require(r == 255L * checkRequests("CHANGEMODE", r, t, selector == 4 ? 2 : 1, 0), "CHANGEMODE result",
                    "CHANGEMODE", r);
        } else {
            require(r == 0, "CHANGEMODE refusal", "CHANGEMODE", r);
        }
        checkAfter("CHANGEMODE", r, !accepted);
        break;
    }
    case PresetWrite: {
        const int32_t axis = in.argument();
        const int32_t value = in.argument();
        const long r = AZQ4810PRWRITE(axis, value);
        const Traffic t = walk("PRWRITE", r);
        if (isAxis(axis)) {
            require(r == 255L * checkRequests("PRWRITE", r, t, 4, 0), "PRWRITE result", "PRWRITE", r);
        } else {
            require(r == 1, "PRWRITE refusal", "PRWRITE", r);
        }
        checkAfter("PRWRITE", r, !isAxis(axis));
        break;
    }
    case Close: {
        const long r = AZQ4810CLOSE();
        walk("CLOSE", r);
        require((r == 0 || r == 255 || r == 510) && Sim::noticeCount() == r / 255, "CLOSE result", "CLOSE", r);
        require(Sim::openDeviceHandles() == 0, "a device handle open after CLOSE", "CLOSE", r);
        readOpen = false;
        writeOpen = false;
        checkAfter("CLOSE", r, false);
        break;
    }
    case CheckIfDriver: {
        const bool existed = Sim::registryKeyExists(ServiceKey);
        const long r = AZQ4810CHECKIFDRIVER();
        const bool exists = Sim::registryKeyExists(ServiceKey);
        require(Sim::trace()[0] == '\0', "port traffic from the registry", "CHECKIFDRIVER", r);
        switch (r) {
        case 0: // the key was there: nothing shown, nothing changed
            require(existed && exists && Sim::noticeCount() == 0, "CHECKIFDRIVER 0", "CHECKIFDRIVER", r);
            break;
        case 1: // created now and not declined: the question only
            require(!existed && exists && Sim::noticeCount() == 1, "CHECKIFDRIVER 1", "CHECKIFDRIVER", r);
            break;
        case -1: // declined: the question, and the key gone unless its deletion failed (not shown)
            require(!existed && Sim::noticeCount() == 1 && (!exists || registryFaults),
                    "CHECKIFDRIVER -1", "CHECKIFDRIVER", r);
            break;
        case 255: // the key could not be created: one notice, nothing created
            require(exists == existed && Sim::noticeCount() == 1, "CHECKIFDRIVER 255", "CHECKIFDRIVER", r);
            break;
        default:
            broken("CHECKIFDRIVER result", "CHECKIFDRIVER", r);
        }
        checkAfter("CHECKIFDRIVER", r, false);
        break;
    }
    case SetBaseAddress: {
        const int32_t base = in.argument();
        const long r = AZQ4810SETBASEADDRESS(base);
        require(r == 0 || r == 255, "SETBASEADDRESS result", "SETBASEADDRESS", r);
        require(Sim::trace()[0] == '\0', "port traffic from the registry", "SETBASEADDRESS", r);
        require(r == 0 || Sim::noticeCount() >= 1, "SETBASEADDRESS failed without a notice", "SETBASEADDRESS", r);
        if (r == 0) {
            // Success means the driver will find the base address as given
            // and the port count.
            require(dword(ParametersKey, "IoPortAddress") == static_cast<int64_t>(static_cast<uint32_t>(base)) &&
                        dword(ParametersKey, "IoPortCount") == 16 && dword(ServiceKey, "Start") == 1 &&
                        dword(ServiceKey, "Type") == 1 && dword(ServiceKey, "ErrorControl") == 1,
                    "SETBASEADDRESS succeeded but the registration is not as written", "SETBASEADDRESS", r);
        }
        checkAfter("SETBASEADDRESS", r, false);
        break;
    }
    case Delete: {
        const long r = AZQ4810DELETE();
        require((r == 0 || r == 255) && Sim::noticeCount() == r / 255, "DELETE result", "DELETE", r);
        require(r != 0 || !Sim::registryKeyExists(ServiceKey), "DELETE succeeded but the key is there", "DELETE",
                r);
        checkAfter("DELETE", r, false);
        break;
    }
    case DeleteAll: {
        const long r = AZQ4810DELETEALL();
        require(r >= 0 && r <= 765 && r % 255 == 0 && Sim::noticeCount() == r / 255, "DELETEALL result",
                "DELETEALL", r);
        require(r != 0 || !Sim::registryKeyExists(ServiceKey), "DELETEALL succeeded but the key is there",
                "DELETEALL", r);
        checkAfter("DELETEALL", r, false);
        break;
    }
    default:
        break;
    }
}

const char* const FaultPaths[] = {
    ServiceKey,
    ParametersKey,
    RegistryPaths::EnumKey,
    RegistryPaths::ServicesRootOpened,
};
const char* const ValueNames[] = {"Type", "Start", "Group", "ErrorControl", "IoPortAddress", "IoPortCount"};

// Faults for the next export call only: counted from its first platform call.
void armFault(Input& in)
{
    const auto kind = static_cast<Sim::Call>(in.byte() % (static_cast<int>(Sim::Call::Any) + 1));
    armedRegistryFault = armedRegistryFault || kind == Sim::Call::RegistryCreate ||
                         kind == Sim::Call::RegistryOpen || kind == Sim::Call::RegistrySet ||
                         kind == Sim::Call::RegistryDelete || kind == Sim::Call::Any;
    const uint8_t how = in.byte();
    const int k = 1 + how % 64;
    if (how & 0x80) {
        Sim::failCallsFrom(kind, k);
    } else {
        Sim::failCall(kind, k);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // Every input starts on a clean machine with the library's channel closed
    // and its mode fields zero (a board start sets them).
    Sim::reset();
    Sim::echoNotices(false);
    AZQ4810CLOSE();
    AZQ4810INITIALIZE();
    AZQ4810CLOSE();
    Sim::reset();
    Sim::echoNotices(false);
    model = ModeModel{{0, 0}, {0, 0}};
    wrongLengthReads = false;
    readOpen = false;
    writeOpen = false;
    namedRegistryFault = false;
    armedRegistryFault = false;

    Input in{data, size};
    while (!in.empty()) {
        const auto op = static_cast<Op>(in.byte() % OpCount);
        switch (op) {
        case FaultNext:
            armFault(in);
            continue;
        case ReplyLength: {
            const uint32_t length = in.byte() % 3u; // none, the one byte, or more than was written
            wrongLengthReads = length != 1;
            Sim::readReplyLength(length);
            continue;
        }
        case CorruptEcho: {
            const int axis = in.byte() % 4;
            const int index = in.byte() % 3;
            const uint8_t value = in.byte();
            Sim::corruptEcho(axis, index, value == 0xFF ? -1 : value);
            continue;
        }
        case Answers: {
            const uint8_t b = in.byte();
            int answers[3];
            const int count = 1 + b % 3;
            for (int i = 0; i < count; ++i) {
                answers[i] = (b >> (2 + i)) & 1 ? 7 : 6; // No : Yes
            }
            Sim::scriptAnswers(answers, count);
            continue;
        }
        case Move: {
            const int axis = in.byte() % 4;
            const auto cycles = static_cast<int16_t>(in.byte() << 8 | in.byte());
            Sim::moveAxis(axis, cycles);
            continue;
        }
        case RegistryFault: {
            namedRegistryFault = true;
            const uint8_t b = in.byte();
            switch (b % 4) {
            case 0: Sim::failRegistryCreate(FaultPaths[(b >> 2) % 4]); break;
            case 1: Sim::failRegistryOpen(FaultPaths[(b >> 2) % 4]); break;
            case 2: Sim::failRegistrySet(ValueNames[(b >> 2) % 6]); break;
            default: Sim::failRegistryDelete(FaultPaths[(b >> 2) % 4]); break;
            }
            continue;
        }
        default:
            break;
        }
        Sim::resetCounts();
        registryFaults = namedRegistryFault || armedRegistryFault;
        callExport(op, in);
        Sim::clearFaults();
        armedRegistryFault = false;
    }
    return 0;
}
