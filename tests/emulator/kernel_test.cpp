// The four ZQ4810.sys files (i386 and x64, board and simulated variants) on
// their own machine code in the emulated kernel: how each starts from the
// registry, what each does with every kind of request, the whole product with
// the shipped DLL in front, and that the kernel catches a driver that breaks
// a rule.
#include "2KZQ4810/exports.h"
#include "emulator/kernel.h"
#include "emulator/loader.h"
#include "zq4810/registry_paths.h"
#include "platform/sim/control.h"
#include "tests/emulator/wrong_file.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

namespace Emulator {

// A call of the DLL that broke a rule fails the test that made it.
void reportBreach(const char* breach)
{
    ADD_FAILURE() << "the DLL: " << breach;
}

} // namespace Emulator

namespace {

struct DriverFile {
    const char* name;
    const char* path;
    bool board;
};

const DriverFile Drivers[] = {
    {"i386_board", ZQ4810_WIN32_BUILD "/driver/board/ZQ4810.sys", true},
    {"i386_simulated", ZQ4810_WIN32_BUILD "/driver/simulated/ZQ4810.sys", false},
    {"x64_board", ZQ4810_WIN64_BUILD "/driver/board/ZQ4810.sys", true},
    {"x64_simulated", ZQ4810_WIN64_BUILD "/driver/simulated/ZQ4810.sys", false},
};

const char* const Dll32 = ZQ4810_WIN32_BUILD "/bin/2KZQ4810.dll";
const char* const Dll64 = ZQ4810_WIN64_BUILD "/bin/2KZQ4810.dll";
const char* const Device = "\\\\.\\ZQ4810Dev";
const char* const Parameters = RegistryPaths::ParametersKey;
constexpr uint32_t ReadWrite = 0xC0000000u;

bool exists(const char* path)
{
    struct stat info;
    return stat(path, &info) == 0;
}

std::string nameOf(const testing::TestParamInfo<DriverFile>& info)
{
    return info.param.name;
}

void PrintTo(const DriverFile& file, std::ostream* out)
{
    *out << file.path;
}

void setDword(const char* name, uint32_t value)
{
    Sim::registrySetValue(Parameters, name, 4, &value, 4);
}

// The registration as the DLL writes it, for tests that start the driver
// without the DLL.
void registerAt(uint32_t address, uint32_t count = 16)
{
    Sim::registryCreateKey(Parameters);
    setDword("IoPortAddress", address);
    setDword("IoPortCount", count);
}

class DriverTest : public testing::TestWithParam<DriverFile> {
protected:
    void SetUp() override
    {
        if (!exists(GetParam().path)) {
            GTEST_SKIP() << "not built: " << GetParam().path;
        }
        Sim::reset();
        Sim::echoNotices(false);
    }

    // The driver loaded and started from what the registry holds now.
    uint32_t start()
    {
        EXPECT_TRUE(Kernel::load(GetParam().path)) << Kernel::error();
        return Kernel::start();
    }
};

// ---- Starting from the registry ---------------------------------------------

struct Value {
    uint32_t type; // 0: missing
    uint32_t size;
    uint32_t bytes;
};
constexpr Value Dword(uint32_t value)
{
    return {4, 4, value};
}
constexpr Value Missing = {0, 0, 0};

// The error log entry a refused start writes for the System event log: the
// message (one of the system's I/O messages), and the dump data: the base
// address, the port count and the status of the step that failed.
struct Entry {
    uint32_t message; // 0: no entry
    uint32_t base, count, status;
};
constexpr uint32_t IoErrInsufficientResources = 0xC0040002, IoErrConfigurationError = 0xC0040003,
                   IoErrInvalidIobase = 0xC004000E;

struct StartCase {
    const char* what;
    bool serviceKey, parametersKey;
    Value address, count;
    const char* failing; // a kernel function made to fail once, with injected
    uint32_t injected;
    uint32_t status;
    const char* logged;
    Entry entry;
};

using DriverStart = DriverTest;

TEST_P(DriverStart, StartsOnlyOnTheBoardsPortsAsRegistered)
{
    const uint32_t configuration = Kernel::StatusDeviceConfigurationError, notFound = Kernel::StatusObjectNameNotFound;
    const uint32_t resources = Kernel::StatusInsufficientResources, collision = Kernel::StatusObjectNameCollision;
    const uint32_t config = IoErrConfigurationError, iobase = IoErrInvalidIobase;
    const StartCase cases[] = {
        {"no service key", false, false, Missing, Missing, nullptr, 0, notFound,
         "cannot open the service key (0xC0000034)", {config, 0, 0, notFound}},
        {"no Parameters key", true, false, Missing, Missing, nullptr, 0, configuration, "no Parameters key",
         {config, 0, 0, notFound}},
        {"no Parameters key, and the system has no error log entry to give", true, false, Missing, Missing,
         "IoAllocateErrorLogEntry", 0, configuration, "no Parameters key", {}},
        {"no IoPortAddress", true, true, Missing, Dword(16), nullptr, 0, configuration, "missing or not a DWORD",
         {config, 0, 0, configuration}},
        {"IoPortCount a string", true, true, Dword(0x300), {1, 4, 0x3631}, nullptr, 0, configuration, "not a DWORD",
         {config, 0x300, 0, configuration}},
        {"IoPortAddress two bytes long", true, true, {4, 2, 0x300}, Dword(16), nullptr, 0, configuration, "not a DWORD",
         {config, 0, 0, configuration}},
        {"17 ports, more than the board has", true, true, Dword(0x300), Dword(17), nullptr, 0, configuration,
         "17 ports at 0x300 are not the board's 16 ports", {config, 0x300, 17, configuration}},
        {"no ports", true, true, Dword(0x300), Dword(0), nullptr, 0, configuration, "0 ports at 0x300",
         {config, 0x300, 0, configuration}},
        {"a block that passes the top of the I/O space", true, true, Dword(0xFFF1), Dword(16), nullptr, 0, configuration,
         "16 ports at 0xFFF1", {iobase, 0xFFF1, 16, configuration}},
        {"an address beyond the I/O space", true, true, Dword(0x10000), Dword(1), nullptr, 0, configuration,
         "1 ports at 0x10000", {iobase, 0x10000, 1, configuration}},
        {"an address far beyond the I/O space", true, true, Dword(0x20000), Dword(16), nullptr, 0, configuration,
         "16 ports at 0x20000", {iobase, 0x20000, 16, configuration}},
        {"the highest address there is", true, true, Dword(0xFFFFFFFF), Dword(16), nullptr, 0, configuration,
         "16 ports at 0xFFFFFFFF", {iobase, 0xFFFFFFFF, 16, configuration}},
        {"the values cannot be read", true, true, Dword(0x300), Dword(16), "ZwQueryValueKey", resources,
         configuration, "missing or not a DWORD", {config, 0, 0, configuration}},
        {"IoCreateDevice fails", true, true, Dword(0x300), Dword(16), "IoCreateDevice", resources, resources,
         "cannot create the device (0xC000009A)", {IoErrInsufficientResources, 0x300, 16, resources}},
        {"IoCreateSymbolicLink fails", true, true, Dword(0x300), Dword(16), "IoCreateSymbolicLink", collision,
         collision, "cannot create the device's link (0xC0000035)", {IoErrInsufficientResources, 0x300, 16, collision}},
        {"at 0x300", true, true, Dword(0x300), Dword(16), nullptr, 0, 0, "board at port 0x300, 16 ports", {}},
        {"at 0x305, not a multiple of 16", true, true, Dword(0x305), Dword(16), nullptr, 0, 0, "board at port 0x305",
         {}},
        {"ending at the top of the I/O space", true, true, Dword(0xFFF0), Dword(16), nullptr, 0, 0, "at port 0xFFF0",
         {}},
    };
    for (const StartCase& c : cases) {
        SCOPED_TRACE(c.what);
        Sim::reset();
        if (c.serviceKey) {
            Sim::registryCreateKey(RegistryPaths::ServiceKey);
        }
        if (c.parametersKey) {
            Sim::registryCreateKey(Parameters);
        }
        for (const auto& value : {std::make_pair("IoPortAddress", c.address), std::make_pair("IoPortCount", c.count)}) {
            if (value.second.type != 0) {
                Sim::registrySetValue(Parameters, value.first, value.second.type, &value.second.bytes,
                                      value.second.size);
            }
        }
        ASSERT_TRUE(Kernel::load(GetParam().path)) << Kernel::error();
        if (c.failing != nullptr) {
            Kernel::failNext(c.failing, c.injected);
        }
        EXPECT_EQ(Kernel::start(), c.status);
        EXPECT_STREQ(Kernel::breach(), "");
        EXPECT_NE(std::string(Kernel::log()).find(c.logged), std::string::npos) << Kernel::log();
        EXPECT_EQ(Kernel::running(), c.status == 0);
        // One entry for a refused start, none for one that succeeds or
        // when the system has none to give.
        ASSERT_EQ(Kernel::errorLogCount(), c.entry.message != 0 ? 1 : 0);
        if (c.entry.message != 0) {
            const Kernel::ErrorLogEntry& e = Kernel::errorLogEntry(0);
            const Entry& want = c.entry;
            EXPECT_EQ((std::vector<uint32_t>{e.errorCode, e.finalStatus, e.dumpWords, e.dump[0], e.dump[1], e.dump[2]}),
                      (std::vector<uint32_t>{want.message, c.status, 3, want.base, want.count, want.status}));
            EXPECT_NE(e.uniqueValue, 0u);
        }
        uint32_t status = 0;
        const uint32_t first = Kernel::open(Device, ReadWrite, &status);
        if (c.status != 0) {
            EXPECT_EQ(first, 0u); // the driver left no device behind
            EXPECT_EQ(status, Kernel::StatusObjectNameNotFound);
            continue;
        }
        // The library holds two openings at once; one byte through mode port
        // 9 and back, at the registered base plus 9.
        const uint32_t second = Kernel::open(Device, ReadWrite, &status);
        ASSERT_NE(first, 0u);
        ASSERT_NE(second, 0u);
        const uint8_t write[5] = {9, 0, 0, 0, 0x5A}, read[4] = {9, 0, 0, 0};
        uint8_t byte = 0;
        uint32_t information = 99;
        EXPECT_EQ(Kernel::control(second, 1, write, 5, nullptr, 0, &information), 0u);
        EXPECT_EQ(Kernel::control(first, 0, read, 4, &byte, 1, &information), 0u);
        EXPECT_EQ(byte, 0x5A);
        EXPECT_STREQ(Kernel::portTrace(), GetParam().board ? "w9=5A r9" : "");
        EXPECT_EQ(Kernel::close(first), 0u);
        EXPECT_EQ(Kernel::close(second), 0u);
        EXPECT_TRUE(Kernel::stop()) << Kernel::breach();
        EXPECT_NE(std::string(Kernel::log()).find("ZQ4810: unloaded"), std::string::npos);
    }
}

// ---- Every kind of request -----------------------------------------------------

struct RequestCase {
    const char* what;
    uint32_t code;
    uint32_t inLength;
    uint32_t offset;
    uint32_t outLength;
    uint32_t status;
    uint32_t information;
    const char* ports; // what the board variant puts on the bus
    bool noInput = false; // a length without a buffer
};

using DriverRequests = DriverTest;

TEST_P(DriverRequests, AnswerEachRequestAsTheReadmeSaysAndTouchOnlyWhatIsAsked)
{
    const uint32_t unknown = Kernel::StatusInvalidDeviceRequest, refused = Kernel::StatusInvalidParameter;
    const RequestCase cases[] = {
        {"control code 2", 2, 4, 0, 1, unknown, 0, ""},
        {"control code 3, neither buffered nor direct", 3, 4, 0, 1, unknown, 0, ""},
        {"a control code of the device type's own", 0x222000, 4, 0, 1, unknown, 0, ""},
        {"a read with a 3-byte input", 0, 3, 0, 1, refused, 0, ""},
        {"a read with a 5-byte input", 0, 5, 0, 1, refused, 0, ""},
        {"a read with no output", 0, 4, 0, 0, refused, 0, ""},
        {"a read with no buffer at all", 0, 0, 0, 0, refused, 0, ""},
        {"a write with a 4-byte input", 1, 4, 0, 0, refused, 0, ""},
        {"a write with a 6-byte input", 1, 6, 0, 0, refused, 0, ""},
        {"a write with no buffer at all", 1, 0, 0, 0, refused, 0, ""},
        {"a read at offset 16, the port count", 0, 4, 16, 1, refused, 0, ""},
        {"a write at offset 0xFFFFFFFF", 1, 5, 0xFFFFFFFF, 0, refused, 0, ""},
        {"an input length without an input buffer", 0, 4, 0, 1, Kernel::StatusAccessViolation, 0, "", true},
        {"a read at offset 15, the last port", 0, 4, 15, 1, 0, 1, "r15"},
        {"a read with a 4-byte output", 0, 4, 9, 4, 0, 1, "r9"},
        {"a write with a 1-byte output, described and not copied", 1, 5, 9, 1, 0, 0, "w9=47"},
    };
    registerAt(0x300);
    ASSERT_EQ(start(), 0u) << Kernel::breach() << Kernel::log();
    uint32_t status = 0;
    const uint32_t handle = Kernel::open(Device, ReadWrite, &status);
    ASSERT_NE(handle, 0u);
    for (const RequestCase& c : cases) {
        SCOPED_TRACE(c.what);
        Kernel::clearTraces();
        const uint8_t input[8] = {static_cast<uint8_t>(c.offset), static_cast<uint8_t>(c.offset >> 8),
                                  static_cast<uint8_t>(c.offset >> 16), static_cast<uint8_t>(c.offset >> 24), 0x47};
        uint8_t output[4] = {0xEE, 0xEE, 0xEE, 0xEE};
        uint32_t information = 99;
        EXPECT_EQ(Kernel::control(handle, c.code, c.noInput ? nullptr : input, c.inLength, output, c.outLength,
                                  &information),
                  c.status);
        EXPECT_EQ(information, c.information);
        EXPECT_STREQ(Kernel::portTrace(), GetParam().board ? c.ports : "");
        EXPECT_EQ(output[1], 0xEE); // one byte at most comes back
        EXPECT_STREQ(Kernel::breach(), "");
    }
    EXPECT_EQ(Kernel::close(handle), 0u);
    EXPECT_EQ(Kernel::close(handle), Kernel::StatusInvalidHandle);
    EXPECT_TRUE(Kernel::stop()) << Kernel::breach();
}

// ---- What any local user may send the device ----------------------------------

// What a driver test kit sends a device, each row against one started driver
// with every rule of the kernel's watch on: every answer a refusal that
// reaches no port, but for the requests an opening may make.
enum class Probe { Open, SubOpens, Sweep, Majors, Cycles, Request };

struct Penetration {
    const char* what;
    Probe probe;
    const char* name; // Open: the name opened, with each access
    Kernel::Security security;
    uint32_t access; // Request: the opening's access
    uint32_t code;   // Request: a port read (0) or write (1) at port 9
    uint32_t status; // Open, SubOpens, Request: the answer
    const char* ports; // Request: what the board variant puts on the bus
};

constexpr uint32_t Read = GENERIC_READ, Write = GENERIC_WRITE, PathNotFound = Kernel::StatusObjectPathNotFound,
                   Denied = Kernel::StatusAccessDenied;
constexpr uint32_t WriteData = 0x2, AppendData = 0x4; // FILE_WRITE_DATA, FILE_APPEND_DATA
constexpr uint32_t Accesses[] = {Read, Write, ReadWrite, 0};
constexpr Kernel::Security Given = Kernel::Security::Given, NoContext = Kernel::Security::None;

const Penetration Penetrations[] = {
    {"the device itself", Probe::Open, "\\\\.\\ZQ4810Dev", Given, 0, 0, 0, ""},
    {"the device itself, with no security context", Probe::Open, "\\\\.\\ZQ4810Dev", NoContext, 0, 0, 0, ""},
    {"a trailing backslash", Probe::Open, "\\\\.\\ZQ4810Dev\\", Given, 0, 0, PathNotFound, ""},
    {"a name below the device", Probe::Open, "\\\\.\\ZQ4810Dev\\x", Given, 0, 0, PathNotFound, ""},
    {"a name below, no security context", Probe::Open, "\\\\.\\ZQ4810Dev\\x", NoContext, 0, 0, PathNotFound, ""},
    {"1,000 generated names below the device", Probe::SubOpens, nullptr, Given, 0, 0, PathNotFound, ""},
    {"the zero-length sweep", Probe::Sweep, nullptr, Given, 0, 0, 0, ""},
    {"read, write, information and flush requests", Probe::Majors, nullptr, Given, 0, 0, 0, ""},
    {"10,000 openings opened and closed", Probe::Cycles, nullptr, Given, 0, 0, 0, ""},
    {"a port write on a read-only opening", Probe::Request, nullptr, Given, Read, 1, Denied, ""},
    {"a port write on an opening with no access", Probe::Request, nullptr, Given, 0, 1, Denied, ""},
    {"a port write on an opening for appending only", Probe::Request, nullptr, Given, AppendData, 1, Denied, ""},
    {"a port read on a read-only opening", Probe::Request, nullptr, Given, Read, 0, 0, "r9"},
    {"a port write on a write opening", Probe::Request, nullptr, Given, Write, 1, 0, "w9=5A"},
    {"a port write on an opening for FILE_WRITE_DATA", Probe::Request, nullptr, Given, WriteData, 1, 0, "w9=5A"},
    {"a port write on a read-only opening by Wine", Probe::Request, nullptr, NoContext, Read, 1, 0, "w9=5A"},
};

// Names below the device, seeded so a failure repeats: lengths of 1 to 200
// characters after the backslash, letters, digits, dots, backslashes, spaces,
// the characters Windows forbids in file names and some of the upper half.
std::string subName(uint32_t& seed)
{
    static const char Characters[] = "aZ09._-~$ \\\\..:*?\"<>|\x7F\xA0\xE9\xFF";
    seed = seed * 1103515245u + 12345u;
    std::string name = std::string(Device) + "\\";
    for (uint32_t length = 1 + (seed >> 16) % 200; name.size() < std::strlen(Device) + 1 + length;) {
        seed = seed * 1103515245u + 12345u;
        name += Characters[(seed >> 16) % (sizeof Characters - 1)];
    }
    return name;
}

// Runs one row: "" when the driver held, or what got through.
std::string penetrate(const Penetration& row, bool board)
{
    char hole[200] = "";
    uint32_t status = 0, information = 0;
    const auto opens = [&](const char* name, uint32_t access) {
        const uint32_t handle = Kernel::open(name, access, &status, row.security);
        if (handle != 0) {
            Kernel::close(handle);
        }
        if (status != row.status && hole[0] == '\0') {
            std::snprintf(hole, sizeof hole, "%s opened for 0x%x: 0x%08x", name, access, status);
        }
    };
    const auto refused = [&](uint32_t answer, const char* what, uint32_t code) {
        const bool refusal = answer == Kernel::StatusInvalidDeviceRequest || answer == Kernel::StatusInvalidParameter ||
                             answer == Kernel::StatusAccessDenied;
        if ((!refusal || information != 0) && hole[0] == '\0') {
            std::snprintf(hole, sizeof hole, "%s 0x%x: 0x%08x, %u bytes", what, code, answer, information);
        }
    };
    Kernel::clearTraces();
    switch (row.probe) {
    case Probe::Open:
        for (uint32_t access : Accesses) {
            opens(row.name, access);
        }
        break;
    case Probe::SubOpens: {
        uint32_t seed = 4810;
        for (int i = 0; i < 1000; ++i) {
            const std::string name = subName(seed);
            opens(name.c_str(), Accesses[i % 4]);
        }
        break;
    }
    case Probe::Sweep: {
        // Device types, functions, the four transfer methods and the four
        // access bits, all with no lengths, the buffers null or in the
        // kernel's space (where nothing is mapped: a touch is a breach).
        const uint64_t kernel = Kernel::imageBase() - 0x100000;
        const uint32_t handle = Kernel::open(Device, ReadWrite, &status);
        for (uint32_t type : {0x0u, 0x22u, 0x12u, 0x8000u, 0xFFFFu}) {
            for (uint32_t function : {0x0u, 0x1u, 0x2u, 0x7FFu, 0x800u, 0xFFFu}) {
                for (uint32_t bits = 0; bits < 16; ++bits) {
                    const uint32_t code = type << 16 | (bits >> 2) << 14 | function << 2 | (bits & 3);
                    refused(Kernel::controlAt(handle, code, 0, 0, &information), "code", code);
                    refused(Kernel::controlAt(handle, code, kernel, kernel + 0x100, &information), "code", code);
                }
            }
        }
        Kernel::close(handle);
        break;
    }
    case Probe::Majors:
        for (uint32_t access : Accesses) {
            const uint32_t handle = Kernel::open(Device, access, &status);
            for (int major : {3, 4, 5, 6, 9}) {
                const uint32_t answer = Kernel::request(handle, major);
                if (answer != Kernel::StatusInvalidDeviceRequest && answer != Kernel::StatusAccessDenied &&
                    hole[0] == '\0') {
                    std::snprintf(hole, sizeof hole, "major %d on an opening for 0x%x: 0x%08x", major, access, answer);
                }
            }
            Kernel::close(handle);
        }
        break;
    case Probe::Cycles: {
        const uint64_t memory = Kernel::memoryInUse();
        for (int i = 0; i < 10000 && hole[0] == '\0'; ++i) {
            const uint32_t handle = Kernel::open(Device, Accesses[i % 4], &status);
            if (handle == 0 || Kernel::close(handle) != 0) {
                std::snprintf(hole, sizeof hole, "opening %d: 0x%08x", i, status);
            }
        }
        if (Kernel::openFiles() != 0 || Kernel::memoryInUse() != memory) {
            std::snprintf(hole, sizeof hole, "%d openings and %llu bytes left", Kernel::openFiles(),
                          static_cast<unsigned long long>(Kernel::memoryInUse() - memory));
        }
        break;
    }
    case Probe::Request: {
        const uint32_t handle = Kernel::open(Device, row.access, &status, row.security);
        const uint8_t input[5] = {9, 0, 0, 0, 0x5A};
        uint8_t byte = 0;
        const uint32_t answer =
            Kernel::control(handle, row.code, input, 4 + row.code, &byte, 1 - row.code, &information);
        Kernel::close(handle);
        if (answer != row.status) {
            std::snprintf(hole, sizeof hole, "answered 0x%08x", answer);
        }
        break;
    }
    }
    if (hole[0] == '\0' && std::strcmp(Kernel::portTrace(), board ? row.ports : "") != 0) {
        std::snprintf(hole, sizeof hole, "the ports: %s", Kernel::portTrace());
    }
    if (hole[0] == '\0' && Kernel::breach()[0] != '\0') {
        std::snprintf(hole, sizeof hole, "%s", Kernel::breach());
    }
    return hole;
}

const Penetration& penetration(const char* what)
{
    for (const Penetration& row : Penetrations) {
        if (std::strcmp(row.what, what) == 0) {
            return row;
        }
    }
    ADD_FAILURE() << "no penetration row " << what;
    return Penetrations[0];
}

using DriverPenetration = DriverTest;

TEST_P(DriverPenetration, RefusesWhatAnyLocalUserMaySendBeyondTheBoard)
{
    registerAt(0x300);
    ASSERT_EQ(start(), 0u) << Kernel::breach() << Kernel::log();
    for (const Penetration& row : Penetrations) {
        EXPECT_EQ(penetrate(row, GetParam().board), "") << row.what;
    }
    EXPECT_EQ(Kernel::openFiles(), 0);
    EXPECT_TRUE(Kernel::stop()) << Kernel::breach();
}

// ---- The whole product ---------------------------------------------------------

// The self-test pattern every board start leaves in each counter, as
// READPOSITION gives it: sign-extended from 24 bits.
constexpr int Pattern = 0xDA5712 - 0x1000000;

const Emulator::DeviceFunctions KernelDevice = {Kernel::CreateFileA, Kernel::DeviceIoControl, Kernel::CloseHandle};

// A port read or write of the test's own, beside the library's openings.
int port(uint32_t handle, uint32_t offset)
{
    const uint8_t input[4] = {static_cast<uint8_t>(offset), 0, 0, 0};
    uint8_t byte = 0;
    uint32_t information = 0;
    return Kernel::control(handle, 0, input, 4, &byte, 1, &information) == 0 && information == 1 ? byte : -1;
}

uint32_t setPort(uint32_t handle, uint32_t offset, uint8_t value)
{
    const uint8_t input[5] = {static_cast<uint8_t>(offset), 0, 0, 0, value};
    uint32_t information = 0;
    return Kernel::control(handle, 1, input, 5, nullptr, 0, &information);
}

int wrapped(int count)
{
    return static_cast<int>(static_cast<uint32_t>(count) << 8) >> 8;
}

struct Product {
    const DriverFile* driver;
    const char* dll;
    const char* name;
};

const Product Products[] = {
    {&Drivers[0], Dll32, "i386_board"},
    {&Drivers[1], Dll32, "i386_simulated"},
    {&Drivers[2], Dll32, "x64_board_wow64"},
    {&Drivers[3], Dll32, "x64_simulated_wow64"},
    {&Drivers[2], Dll64, "x64_board_dll64"},
    {&Drivers[3], Dll64, "x64_simulated_dll64"},
};

void PrintTo(const Product& product, std::ostream* out)
{
    *out << product.dll << " with " << product.driver->path;
}

class WholeProduct : public testing::TestWithParam<Product> {
protected:
    void SetUp() override
    {
        for (const char* file : {GetParam().driver->path, GetParam().dll}) {
            if (!exists(file)) {
                GTEST_SKIP() << "not built: " << file;
            }
        }
        Sim::reset();
        Sim::echoNotices(false);
        ASSERT_TRUE(Emulator::load(GetParam().dll)) << Emulator::error();
        Emulator::bindDevice(&KernelDevice);
    }
    void TearDown() override
    {
        Emulator::bindDevice(nullptr);
        Emulator::unload();
    }
};

// Registration through the DLL; the restart starts the driver from what it
// wrote; the board started, read with the encoders turning, reset, preset,
// multiplier and modes, closed; the driver stopped; the registration removed;
// after the next restart no device. The board variant's own port
// instructions (or the HAL's functions) drive the board model: each request
// becomes exactly its port access.
TEST_P(WholeProduct, RunsFromRegistrationToRemoval)
{
    const DriverFile& driver = *GetParam().driver;
    EXPECT_EQ(AZQ4810CHECKIFDRIVER(), 1);
    EXPECT_EQ(AZQ4810SETBASEADDRESS(0x300), 0);
    // The simulated variant's encoders turn when the registration asks it
    // to, axis n at n+1 times the rate, the odd ones backwards; the board's
    // real encoders turn alike.
    setDword("SimulatedCyclesPerSecond", 10);
    const int rates[4] = {10, -20, 30, -40};
    Sim::restartMachine();
    ASSERT_TRUE(Kernel::boot(driver.path)) << Kernel::breach() << Kernel::log();
    Kernel::turnEncoders(rates);

    EXPECT_EQ(AZQ4810INITIALIZE(), 0);
    for (int axis = 0; axis < 4; ++axis) {
        EXPECT_EQ(AZQ4810READPOSITION(axis), Pattern) << "axis " << axis;
    }
    // A second later, at the four counts a cycle the board start sets.
    Kernel::advanceClock(1000);
    for (int axis = 0; axis < 4; ++axis) {
        EXPECT_EQ(AZQ4810READPOSITION(axis), wrapped(Pattern + 4 * rates[axis])) << "axis " << axis;
    }
    EXPECT_EQ(AZQ4810RESETCOUNTER(1), 0);
    EXPECT_EQ(AZQ4810READPOSITION(1), 0);

    uint32_t status = 0;
    const uint32_t own = Kernel::open(Device, ReadWrite, &status);
    ASSERT_NE(own, 0u);
    // A preset reaches the counter on the load command, which no export sends.
    EXPECT_EQ(AZQ4810PRWRITE(2, 0x12345678), 0);
    EXPECT_EQ(setPort(own, 5, 0x08), 0u);
    EXPECT_EQ(AZQ4810READPOSITION(2), 0x345678);
    for (const int multiplier : {1, 2}) {
        EXPECT_EQ(AZQ4810SETMULTIPLIER(multiplier), 0);
        const int before = AZQ4810READPOSITION(0);
        Kernel::advanceClock(1000);
        EXPECT_EQ(AZQ4810READPOSITION(0), before + multiplier * rates[0]) << "multiplier " << multiplier;
    }
    EXPECT_EQ(AZQ4810CHANGEMODE(1, 3), 0);
    EXPECT_EQ(port(own, 8), 0x30);
    EXPECT_EQ(AZQ4810CHANGEMODE(0, 5), 0);
    EXPECT_EQ(port(own, 8), 0x35);
    EXPECT_EQ(AZQ4810CHANGEMODE(4, 2), 0);
    EXPECT_EQ(port(own, 8), 0x22);
    EXPECT_EQ(port(own, 9), 0x22);
    EXPECT_EQ(Kernel::close(own), 0u);
    EXPECT_EQ(AZQ4810CLOSE(), 0);

    EXPECT_EQ(std::string(Kernel::portTrace()), driver.board ? Kernel::requestTrace() : "");
    EXPECT_EQ(std::string(Kernel::requestTrace()).find('!'), std::string::npos) << Kernel::requestTrace();
    ASSERT_EQ(Sim::noticeCount(), 1); // the first setup's question, and nothing failed
    EXPECT_STREQ(Sim::notice(0).caption, "First time setup.");
    EXPECT_EQ(Sim::openCallCount(), 0); // nothing reached the simulator's own device
    EXPECT_TRUE(Kernel::stop()) << Kernel::breach();
    EXPECT_NE(std::string(Kernel::log()).find("ZQ4810: unloaded"), std::string::npos) << Kernel::log();

    EXPECT_EQ(AZQ4810DELETEALL(), 0);
    Sim::restartMachine();
    EXPECT_FALSE(Kernel::boot(driver.path));
    EXPECT_EQ(AZQ4810INITIALIZE(), 255);
    EXPECT_STREQ(Kernel::breach(), "");
}

std::string productName(const testing::TestParamInfo<Product>& product)
{
    return product.param.name;
}

INSTANTIATE_TEST_SUITE_P(Drivers, WholeProduct, testing::ValuesIn(Products), productName);

// ---- The kernel's rules, each broken by a patched driver ------------------------

// Machine code written into a driver's routine, with calls of its imports
// through their slots as the compiler makes them ("call [slot]").
struct Code {
    uint64_t at;
    int bits;
    std::vector<uint8_t> bytes;

    Code& op(std::initializer_list<uint8_t> more)
    {
        bytes.insert(bytes.end(), more);
        return *this;
    }
    Code& word(uint32_t value)
    {
        for (int i = 0; i < 4; ++i) {
            bytes.push_back(static_cast<uint8_t>(value >> (8 * i)));
        }
        return *this;
    }
    Code& call(const char* function)
    {
        const uint64_t slot = Kernel::importSlot(function);
        EXPECT_NE(slot, 0u) << function;
        op({0xFF, 0x15});
        // i386: the slot's address; x64: relative to the next instruction.
        return word(static_cast<uint32_t>(bits == 32 ? slot : slot - (at + bytes.size() + 4)));
    }
};

// Opening: the driver's decision of what an opening may do, the first
// function its create routine calls.
enum class Routine { Entry, Create, Control, Unload, Opening };

using Emulator::Rule;

struct Fault {
    const char* what;
    const DriverFile* driver;
    Routine routine;
    void (*write)(Code& code);
    Rule rule; // the one the kernel must see broken
    const char* hole = nullptr; // or, with no rule broken, the penetration row that must find it
};

// What the kernel's breach must start with: the routine, or the request, it
// was in (the opening is the first request, a device-control the second).
const char* const ContextOf[] = {"DriverEntry: ", "IRP 1 (IRP_MJ_CREATE): ",
                                 "IRP 2 (IRP_MJ_DEVICE_CONTROL, code 0x0): ", "DriverUnload: "};

// i386 dispatch routines: [esp+4] the device, [esp+8] the IRP; x64: rcx, rdx.
void complete32(Code& c)
{
    c.op({0x8B, 0x4C, 0x24, 0x08, 0x31, 0xD2}).call("IofCompleteRequest"); // mov ecx,[esp+8]; xor edx,edx
}
void return32(Code& c)
{
    c.op({0x31, 0xC0, 0xC2, 0x08, 0x00}); // xor eax,eax; ret 8
}
void lock32(Code& c)
{
    c.op({0x8D, 0x4C, 0x24, 0xC0}).call("KfAcquireSpinLock"); // lea ecx,[esp-0x40]
}
void complete64(Code& c)
{
    c.op({0x48, 0x89, 0xD1, 0x31, 0xD2}).call("IofCompleteRequest"); // mov rcx,rdx; xor edx,edx
}

const Fault Faults[] = {
    {"DriverEntry leaves a registry key open", &Drivers[0], Routine::Entry,
     [](Code& c) {
         // ZwOpenKey(&key, KEY_READ, {24, 0, path, OBJ_CASE_INSENSITIVE}) and no ZwClose.
         c.op({0x83, 0xEC, 0x20, 0xC7, 0x44, 0x24, 0x04}).word(24).op({0xC7, 0x44, 0x24, 0x08}).word(0);
         c.op({0x8B, 0x44, 0x24, 0x28, 0x89, 0x44, 0x24, 0x0C, 0xC7, 0x44, 0x24, 0x10}).word(0x40);
         c.op({0xC7, 0x44, 0x24, 0x14}).word(0).op({0xC7, 0x44, 0x24, 0x18}).word(0);
         c.op({0x8D, 0x44, 0x24, 0x04, 0x50, 0x68}).word(0x20019).op({0x8D, 0x44, 0x24, 0x08, 0x50}).call("ZwOpenKey");
         c.op({0x83, 0xC4, 0x20});
         return32(c);
     },
     Rule::KeyLeftOpen},
    {"completes a request twice", &Drivers[0], Routine::Create,
     [](Code& c) { complete32(c); complete32(c); return32(c); },
     Rule::CompletedOnce},
    {"never completes a request", &Drivers[0], Routine::Create, return32,
     Rule::CompletedOnce},
    {"completes with STATUS_PENDING", &Drivers[0], Routine::Create,
     [](Code& c) {
         c.op({0x8B, 0x4C, 0x24, 0x08, 0xC7, 0x41, 0x18}).word(0x103).op({0x31, 0xD2}).call("IofCompleteRequest");
         c.op({0xB8}).word(0x103).op({0xC2, 0x08, 0x00});
     },
     Rule::CompletedPending},
    {"returns another status than it completed with", &Drivers[0], Routine::Create,
     [](Code& c) { complete32(c); c.op({0xB8}).word(0xC0000001).op({0xC2, 0x08, 0x00}); },
     Rule::ReturnedStatus},
    {"claims more output than there is", &Drivers[1], Routine::Control,
     [](Code& c) {
         c.op({0x8B, 0x4C, 0x24, 0x08, 0xC7, 0x41, 0x1C}).word(5).op({0x31, 0xD2}).call("IofCompleteRequest");
         return32(c);
     },
     Rule::InformationWithinOutput},
    {"returns holding its spin lock", &Drivers[0], Routine::Create,
     [](Code& c) { lock32(c); return32(c); },
     Rule::SpinLockReturned},
    {"releases a spin lock it does not hold", &Drivers[1], Routine::Create,
     [](Code& c) { c.op({0x8D, 0x4C, 0x24, 0xC0, 0x31, 0xD2}).call("KfReleaseSpinLock"); },
     Rule::SpinLockPairs},
    {"completes a request holding its spin lock", &Drivers[0], Routine::Create,
     [](Code& c) { lock32(c); complete32(c); },
     Rule::CompletedUnderLock},
    {"reaches a port while opening", &Drivers[0], Routine::Create,
     [](Code& c) { c.op({0x68}).word(0x300).call("READ_PORT_UCHAR"); },
     Rule::PortOutsideRequest},
    {"reaches a port beyond the registered ones", &Drivers[0], Routine::Control,
     [](Code& c) { c.op({0x68}).word(0x310).call("READ_PORT_UCHAR"); },
     Rule::PortOutsideRegistered},
    {"jumps out of its image", &Drivers[0], Routine::Create,
     [](Code& c) { c.op({0xB8}).word(0x12345678).op({0xFF, 0xE0}); }, Rule::CodeOutside},
    {"writes the request's stack location", &Drivers[1], Routine::Control,
     [](Code& c) { c.op({0x8B, 0x44, 0x24, 0x08, 0x8B, 0x40, 0x60, 0xC7, 0x40, 0x04}).word(0); },
     Rule::StrayWrite},
    {"touches a request after completing it", &Drivers[0], Routine::Create,
     [](Code& c) {
         c.op({0x8B, 0x4C, 0x24, 0x08, 0x51, 0x31, 0xD2}).call("IofCompleteRequest");
         c.op({0x59, 0xC7, 0x41, 0x18}).word(0);
     },
     Rule::RequestAfterCompletion},
    {"removes one argument too few", &Drivers[0], Routine::Create,
     [](Code& c) { complete32(c); c.op({0x31, 0xC0, 0xC2, 0x04, 0x00}); },
     Rule::StackBalance},
    {"does not keep ebx", &Drivers[1], Routine::Create,
     [](Code& c) { c.op({0xBB}).word(5); complete32(c); return32(c); },
     Rule::KeptRegisters},
    {"calls a fastcall function as if it were stdcall", &Drivers[0], Routine::Create,
     [](Code& c) { c.op({0xFF, 0x74, 0x24, 0x08, 0x6A, 0x00, 0xB9}).word(0).call("IofCompleteRequest"); },
     Rule::SystemArgument},
    {"unloads without deleting its link", &Drivers[0], Routine::Unload,
     [](Code& c) { c.op({0x8B, 0x44, 0x24, 0x04, 0xFF, 0x70, 0x04}).call("IoDeleteDevice").op({0xC2, 0x04, 0x00}); },
     Rule::LeftBehind},
    {"unloads without deleting its device", &Drivers[1], Routine::Unload,
     [](Code& c) { c.op({0xC2, 0x04, 0x00}); }, Rule::LeftBehind},
    {"reads a port four bytes wide", &Drivers[2], Routine::Control,
     [](Code& c) { c.op({0xBA}).word(0x300).op({0xED}); }, // mov edx,0x300; in eax,dx
     Rule::PortWidth},
    {"calls with the stack not aligned", &Drivers[2], Routine::Create,
     [](Code& c) {
         c.op({0x48, 0x83, 0xEC, 0x20}); // sub rsp,0x20
         complete64(c);
     },
     Rule::StackAlignment},
    {"calls without shadow space", &Drivers[3], Routine::Create,
     [](Code& c) {
         c.op({0x48, 0x83, 0xEC, 0x08}); // sub rsp,8
         complete64(c);
     },
     Rule::ShadowSpace},
    {"does not keep rbx", &Drivers[3], Routine::Create,
     [](Code& c) {
         c.op({0x48, 0x83, 0xEC, 0x28});
         complete64(c);
         c.op({0xBB}).word(5).op({0x31, 0xC0, 0x48, 0x83, 0xC4, 0x28, 0xC3});
     },
     Rule::KeptRegisters},
    {"writes an error log entry twice", &Drivers[1], Routine::Entry,
     [](Code& c) {
         // IoAllocateErrorLogEntry(driver, 0x34), then IoWriteErrorLogEntry of it twice.
         c.op({0x8B, 0x44, 0x24, 0x04, 0x6A, 0x34, 0x50}).call("IoAllocateErrorLogEntry");
         c.op({0x50, 0x50}).call("IoWriteErrorLogEntry").call("IoWriteErrorLogEntry");
         return32(c);
     },
     Rule::ErrorLogWrittenOnce},
    {"allocates an error log entry and never writes it", &Drivers[2], Routine::Entry,
     [](Code& c) {
         // rcx holds the driver object already.
         c.op({0x48, 0x83, 0xEC, 0x28, 0xBA}).word(0x34).call("IoAllocateErrorLogEntry");
         c.op({0x31, 0xC0, 0x48, 0x83, 0xC4, 0x28, 0xC3});
     },
     Rule::ErrorLogUnwritten},
    // A driver that drops one of its checks breaks no rule: the penetration
    // table must find the hole.
    {"opens any name below the device", &Drivers[0], Routine::Opening,
     [](Code& c) {
         // eax = !hasContext || (access & write rights) ? OPENING_WRITES : OPENING_READS, the name unread.
         c.op({0xB8}).word(2).op({0x83, 0x7C, 0x24, 0x08, 0x00, 0x74, 0x0F, 0xF7, 0x44, 0x24, 0x0C}).word(0x50000002);
         c.op({0x75, 0x05, 0xB8}).word(1).op({0xC3});
     },
     Rule::None, "a name below the device"},
    {"opens any name below the device, on x64", &Drivers[3], Routine::Opening,
     [](Code& c) {
         c.op({0xB8}).word(2).op({0x85, 0xD2, 0x74, 0x0E, 0x41, 0xF7, 0xC0}).word(0x50000002);
         c.op({0x75, 0x05, 0xB8}).word(1).op({0xC3});
     },
     Rule::None, "1,000 generated names below the device"},
    {"lets every opening write", &Drivers[1], Routine::Opening,
     [](Code& c) { c.op({0x31, 0xC0, 0x83, 0x7C, 0x24, 0x04, 0x00, 0x75, 0x05, 0xB8}).word(2).op({0xC3}); },
     Rule::None, "a port write on a read-only opening"},
    {"lets every opening write, on x64", &Drivers[2], Routine::Opening,
     [](Code& c) { c.op({0x31, 0xC0, 0x85, 0xC9, 0x75, 0x05, 0xB8}).word(2).op({0xC3}); },
     Rule::None, "a port write on a read-only opening"},
    {"returns holding its spin lock, on x64", &Drivers[2], Routine::Create,
     [](Code& c) {
         c.op({0x48, 0x83, 0xEC, 0x28, 0x48, 0x8D, 0x4C, 0x24, 0x20}).call("KeAcquireSpinLockRaiseToDpc");
         c.op({0x31, 0xC0, 0x48, 0x83, 0xC4, 0x28, 0xC3});
     },
     Rule::SpinLockReturned},
};

using DriverRules = DriverTest;

// The first function the create routine calls directly (call rel32), which
// the driver's decision of an opening is: it holds the write rights' mask.
uint64_t openingDecision()
{
    const uint64_t routine = Kernel::dispatchRoutine(0);
    uint8_t bytes[0x100] = {};
    if (routine == 0 || !Kernel::readGuest(routine, bytes, sizeof bytes)) {
        return 0;
    }
    for (size_t i = 0; i + 5 <= sizeof bytes; ++i) {
        const uint32_t relative = static_cast<uint32_t>(bytes[i + 1] | bytes[i + 2] << 8 | bytes[i + 3] << 16) |
                                  static_cast<uint32_t>(bytes[i + 4]) << 24;
        const int64_t displacement = static_cast<int32_t>(relative);
        const uint64_t target = routine + i + 5 + static_cast<uint64_t>(displacement);
        uint8_t body[48] = {};
        const uint8_t mask[4] = {0x02, 0x00, 0x00, 0x50};
        if (bytes[i] == 0xE8 && Kernel::readGuest(target, body, sizeof body) &&
            std::search(body, body + sizeof body, mask, mask + 4) != body + sizeof body) {
            return target;
        }
    }
    return 0;
}

// Each rule the kernel holds a driver to, broken once by a copy of a shipped
// driver with one routine rewritten: the kernel must stop it and say which
// rule, in which request.
TEST_P(DriverRules, EachRuleBrokenByAPatchedCopyIsCaught)
{
    for (const Fault& fault : Faults) {
        if (std::strcmp(fault.driver->name, GetParam().name) != 0) {
            continue;
        }
        SCOPED_TRACE(fault.what);
        Sim::reset();
        registerAt(0x300);
        ASSERT_TRUE(Kernel::load(fault.driver->path)) << Kernel::error();
        Code code{0, Kernel::bits(), {}};
        if (fault.routine == Routine::Opening) {
            ASSERT_EQ(Kernel::start(), 0u) << Kernel::breach();
            code.at = openingDecision();
            ASSERT_NE(code.at, 0u);
            fault.write(code);
            ASSERT_TRUE(Kernel::patch(code.at, code.bytes.data(), code.bytes.size()));
            EXPECT_NE(penetrate(penetration(fault.hole), fault.driver->board), "") << fault.hole;
            EXPECT_STREQ(Kernel::breach(), "");
            continue;
        }
        if (fault.routine == Routine::Entry) {
            code.at = Kernel::entryPoint();
            fault.write(code);
            ASSERT_TRUE(Kernel::patch(code.at, code.bytes.data(), code.bytes.size()));
        }
        if (Kernel::start() == 0 && fault.routine != Routine::Entry) {
            code.at = fault.routine == Routine::Unload ? Kernel::unloadRoutine()
                      : fault.routine == Routine::Create ? Kernel::dispatchRoutine(0)
                                                         : Kernel::dispatchRoutine(14);
            fault.write(code);
            uint32_t status = 0;
            const uint32_t handle = fault.routine == Routine::Create ? 0 : Kernel::open(Device, ReadWrite, &status);
            ASSERT_TRUE(Kernel::patch(code.at, code.bytes.data(), code.bytes.size()));
            if (fault.routine == Routine::Create) {
                EXPECT_EQ(Kernel::open(Device, ReadWrite, &status), 0u);
                EXPECT_EQ(status, Kernel::StatusDriverBroke);
            } else if (fault.routine == Routine::Control) {
                const uint8_t read[4] = {9, 0, 0, 0};
                uint8_t byte = 0;
                uint32_t information = 0;
                EXPECT_EQ(Kernel::control(handle, 0, read, 4, &byte, 1, &information), Kernel::StatusDriverBroke);
            } else {
                Kernel::close(handle);
                EXPECT_FALSE(Kernel::stop());
            }
        }
        EXPECT_STREQ(Emulator::ruleRow(Kernel::breachedRule()).name, Emulator::ruleRow(fault.rule).name)
            << Kernel::breach();
        const char* context = ContextOf[static_cast<int>(fault.routine)];
        EXPECT_EQ(std::string(Kernel::breach()).rfind(context, 0), 0u) << Kernel::breach();
    }
}

// A file the kernel cannot run is refused at load, in one line, before any
// of its code runs.
TEST_P(DriverStart, AFileTheKernelCannotRunIsRefusedInOneLine)
{
    const WrongFile::Case cases[] = {
        {"not an executable", "MZ", "ZM", "not a PE file"},
        {"an import this kernel does not have", "ZwClose", "ZwClosX", "imports ntoskrnl.exe!ZwClosX, which this kernel"},
        {"a DLL", "", "", "not a driver (a DLL"},
    };
    for (const WrongFile::Case& wrong : cases) {
        WrongFile::expectRefused(GetParam().path, wrong, Kernel::load, Kernel::error);
    }
}

INSTANTIATE_TEST_SUITE_P(Drivers, DriverStart, testing::ValuesIn(Drivers), nameOf);
INSTANTIATE_TEST_SUITE_P(Drivers, DriverRequests, testing::ValuesIn(Drivers), nameOf);
INSTANTIATE_TEST_SUITE_P(Drivers, DriverRules, testing::ValuesIn(Drivers), nameOf);
INSTANTIATE_TEST_SUITE_P(Drivers, DriverPenetration, testing::ValuesIn(Drivers), nameOf);

} // namespace
