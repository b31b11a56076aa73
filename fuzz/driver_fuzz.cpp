// Drives one ZQ4810.sys (ZQ4810_DRIVER names the file) in the emulated
// kernel with whatever the fuzzer makes up: the registration it starts from,
// then opens of any access and name, device-control requests of any code,
// transfer method, lengths and bytes (and with no lengths, buffers anywhere),
// requests of other majors, closes, clock and encoder steps, and stopping and
// starting the driver again. Every rule the kernel holds the
// driver to is a finding: the first breach aborts with its text. The driver's
// own blocks, as the emulator enters them, are the fuzzer's coverage (edges
// between blocks, in libFuzzer's extra counters), besides the emulator's.
#include "emulator/coverage.h"
#include "emulator/kernel.h"
#include "zq4810/registry_paths.h"
#include "platform/sim/control.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

// libFuzzer reads these as coverage beside its own.
__attribute__((section("__libfuzzer_extra_counters"))) uint8_t guestEdges[1 << 16];

namespace {

const char* driver = nullptr;
uint64_t previousBlock = 0;

// An edge from the previous block to this one, as a fuzzer of machine code
// counts them; the images are smaller than the table.
void onBlock(uint64_t offset, uint32_t)
{
    uint8_t& counter = guestEdges[(offset ^ previousBlock) & (sizeof guestEdges - 1)];
    counter = static_cast<uint8_t>(counter + 1 != 0 ? counter + 1 : counter);
    previousBlock = offset >> 1;
}

struct Input {
    const uint8_t* data;
    size_t size;

    uint8_t byte()
    {
        if (size == 0) {
            return 0;
        }
        --size;
        return *data++;
    }
    uint32_t word(int bytes)
    {
        uint32_t value = 0;
        for (int i = 0; i < bytes; ++i) {
            value |= static_cast<uint32_t>(byte()) << (8 * i);
        }
        return value;
    }
};

void checkKept(const char* after)
{
    if (Kernel::breach()[0] != '\0') {
        std::fprintf(stderr, "driver fuzz: %s broke the rule %s: %s\n", after,
                     Emulator::ruleRow(Kernel::breachedRule()).name, Kernel::breach());
        std::abort();
    }
}

// A kernel function the driver's start calls that fails, as the real one can.
struct Fault {
    const char* function; // or none
    uint32_t status;
};
const char* const Failing[] = {"IoCreateDevice", "IoCreateSymbolicLink", "ZwOpenKey", "ZwQueryValueKey",
                               "IoAllocateErrorLogEntry"};
const uint32_t FailingStatus[] = {Kernel::StatusInsufficientResources, Kernel::StatusObjectNameCollision,
                                  Kernel::StatusObjectNameNotFound, Kernel::StatusBufferOverflow};

// The registration the driver starts from: as the DLL writes it mostly, or
// with values missing, of another type or size, or out of range, or only the
// service key; the simulated board's encoders turning or not; and now and
// then a kernel function that fails during the start.
Fault registerDriver(Input& input)
{
    const uint8_t form = input.byte(), extras = input.byte();
    Fault fault = {nullptr, 0};
    if ((form & 0x40) != 0) {
        const uint8_t pick = input.byte();
        fault = {Failing[pick % 5], FailingStatus[pick >> 4 & 3]};
    }
    if ((form & 0x80) != 0) {
        if ((extras & 0x40) != 0) {
            Sim::registryCreateKey(RegistryPaths::ServiceKey); // without its Parameters
        }
        return fault;
    }
    const char* parameters = RegistryPaths::ParametersKey;
    Sim::registryCreateKey(parameters);
    const uint32_t rate = (extras & 0x3Fu) * 50;
    if (rate != 0) {
        Sim::registrySetValue(parameters, "SimulatedCyclesPerSecond", 4, &rate, 4);
    }
    const char* const names[] = {"IoPortAddress", "IoPortCount"};
    const uint32_t usual[] = {0x300, 16};
    for (int k = 0; k < 2; ++k) {
        const int how = (form >> (2 * k)) & 3;
        uint32_t value = how == 2 ? input.word(4) : usual[k];
        if (how == 3) {
            continue; // missing
        }
        const uint32_t type = (form & 0x10) != 0 && k == 0 ? 3 : 4; // REG_BINARY or REG_DWORD
        const uint32_t size = (form & 0x20) != 0 && k == 1 ? 2 : 4;
        Sim::registrySetValue(parameters, names[k], type, &value, size);
    }
    return fault;
}

// The driver as loaded, not started: every input starts it afresh.
bool start(const Fault& fault)
{
    if (!Kernel::restore()) {
        std::fprintf(stderr, "driver fuzz: the kernel cannot be put back\n");
        std::exit(2);
    }
    if (fault.function != nullptr) {
        Kernel::failNext(fault.function, fault.status);
    }
    Kernel::start();
    checkKept("DriverEntry");
    return Kernel::running();
}

constexpr int MaxHandles = 4;

// The names a program may open: the device through its link, a name below
// it, another name.
const char* const Names[] = {"\\\\.\\ZQ4810Dev", "\\\\.\\ZQ4810Dev\\below", "\\\\.\\ZQ4810", "\\\\.\\ZQ4810Dev\\"};
const uint32_t Accesses[] = {0xC0000000u, 0x80000000u, 0x40000000u, 0, 0x10000000u, 0x00120089u, 0x00120116u, 1};
const uint32_t Shares[] = {FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_SHARE_READ, FILE_SHARE_WRITE, 0};

// Codes near the driver's two, and any: its device type, access bits and
// method around them.
uint32_t controlCode(Input& input)
{
    const uint8_t pick = input.byte();
    switch (pick & 3) {
    case 0: return pick >> 7;
    case 1: return static_cast<uint32_t>((pick >> 2 & 1) | (pick >> 3 & 3) << 14 | (pick >> 5 & 3)); // access, method
    default: return input.word(4);
    }
}

// Lengths mostly small, sometimes past what the I/O manager buffers.
uint32_t length(Input& input)
{
    const uint8_t pick = input.byte();
    return (pick & 0x80) == 0 ? pick & 0x0F : (pick & 0x7F) * 64u;
}

void request(Input& input, const uint32_t* handles)
{
    static uint8_t in[0x2000], out[0x2000];
    const uint32_t handle = handles[input.byte() % MaxHandles];
    const uint32_t code = controlCode(input);
    const uint32_t inLength = length(input), outLength = length(input);
    const uint8_t buffers = input.byte();
    std::memset(in, 0, sizeof in);
    std::memset(out, 0xA5, sizeof out);
    for (uint32_t i = 0; i < inLength && i < 8; ++i) {
        in[i] = input.byte();
    }
    // The fuzzer does not see the driver's comparisons: the counter chip's
    // commands, now and then, as the byte a port write sends.
    static const uint8_t Commands[] = {0x01, 0x02, 0x08, 0x10, 0xA8, 0xB0, 0xB8};
    if ((buffers & 4) != 0) {
        in[4] = Commands[in[4] % sizeof Commands];
    }
    uint32_t information = 0;
    Kernel::control(handle, code, (buffers & 1) != 0 ? nullptr : in, inLength, (buffers & 2) != 0 ? nullptr : out,
                    outLength, &information);
    checkKept("a device-control request");
}

// The majors a driver leaves to the I/O manager, or a request with no
// lengths whose buffers lie anywhere at all.
void otherRequest(Input& input, const uint32_t* handles, uint8_t op)
{
    const uint32_t handle = handles[op >> 3 & 3];
    if ((op & 0x40) == 0) {
        static const int Majors[] = {3, 4, 5, 6, 9};
        Kernel::request(handle, Majors[input.byte() % 5]);
        checkKept("a request of another major function");
        return;
    }
    const uint64_t base = Kernel::imageBase();
    const uint64_t places[] = {0, 1, 0x10000, base, base + 0x1000, base - 0x100000, 0xFFFFFFFFu, ~uint64_t{0}};
    const uint8_t where = input.byte();
    uint32_t information = 0;
    Kernel::controlAt(handle, controlCode(input), places[where & 7], places[where >> 3 & 7], &information);
    checkKept("a request with buffers anywhere");
}

void play(Input& input, const Fault& fault)
{
    uint32_t handles[MaxHandles] = {};
    bool running = start(fault);
    while (input.size > 0) {
        const uint8_t op = input.byte();
        switch (op % 6) {
        case 0: {
            // Into a slot; now and then without a security context, as
            // Wine's kernel opens, or sharing less.
            const uint8_t how = input.byte();
            const Kernel::Security security = (how & 0x10) != 0 ? Kernel::Security::None : Kernel::Security::Given;
            uint32_t status = 0;
            handles[how % MaxHandles] =
                Kernel::open(Names[op >> 3 & 3], Accesses[op >> 5 & 7], &status, security, Shares[how >> 5 & 3]);
            checkKept("an open");
            break;
        }
        case 1:
        case 2: request(input, handles); break;
        case 3: {
            uint32_t& handle = handles[op >> 3 & 3];
            Kernel::close(handle);
            handle = (op & 0x80) != 0 ? handle : 0; // sometimes a handle closed twice
            checkKept("a close");
            break;
        }
        case 4: {
            const int cycles[4] = {static_cast<int8_t>(input.byte()) * 100, -1000, 0, static_cast<int8_t>(op) * 7};
            Kernel::turnEncoders(cycles);
            Kernel::advanceClock(input.byte());
            break;
        }
        default:
            if ((op & 0x80) != 0) {
                otherRequest(input, handles, op);
                break;
            }
            // Stopping: refused while files are open; stopped, started again.
            if (running && Kernel::stop()) {
                running = start(Fault{nullptr, 0});
            }
            checkKept("stopping the driver");
            break;
        }
    }
    for (uint32_t handle : handles) {
        Kernel::close(handle);
    }
    checkKept("closing every handle");
    if (running && Kernel::openFiles() == 0) {
        Kernel::stop();
        checkKept("the driver's unload");
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    driver = std::getenv("ZQ4810_DRIVER");
    if (driver == nullptr || driver[0] == '\0') {
        std::fprintf(stderr, "driver fuzz: set ZQ4810_DRIVER to the ZQ4810.sys to run\n");
        std::exit(2);
    }
    Emulator::observeBlocks(onBlock);
    if (!Kernel::load(driver) || !Kernel::save()) {
        std::fprintf(stderr, "driver fuzz: %s\n", Kernel::error()[0] != '\0' ? Kernel::error() : "cannot keep the kernel");
        std::exit(2);
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Input input{data, size};
    Sim::reset();
    Sim::echoNotices(false);
    previousBlock = 0;
    play(input, registerDriver(input));
    // With ZQ4810_COVERAGE set, the blocks reached so far, for scripts/coverage.
    Emulator::writeCoverage();
    return 0;
}
