/*
 * The whole Windows product end to end: an application calling the real
 * 2KZQ4810.dll through its import library, the DLL reaching the simulated
 * ZQ4810.sys through the system's own DeviceIoControl, and the driver started
 * by the system from the registration the DLL wrote. tests/e2e/run drives it
 * one phase per program run, restarting the system in between.
 *
 * Besides the exports it opens the device itself for what only the driver
 * can show: what sits in the mode ports, a counter loaded from its preset,
 * and the requests the driver must refuse.
 *
 * Every call is printed with its result; the exit status is the number of
 * results that differed from the expected ones.
 */
#include <windows.h>

#include <stdio.h>
#include <string.h>

#include "2KZQ4810/exports.h"

#define DEVICE_NAME "\\\\.\\ZQ4810Dev"
#define SERVICE_KEY "SYSTEM\\CurrentControlSet\\Services\\ZQ4810"

/* The self-test pattern 0xDA5712 left in every counter by the board start,
 * as READPOSITION gives it: sign-extended from 24 bits. */
#define PATTERN_COUNT (0xDA5712 - 0x1000000)

static int failures;

static void expect(const char* call, int result, int expected)
{
    if (result == expected) {
        printf("  %-44s = %d\n", call, result);
    } else {
        printf("  %-44s = %d   FAIL: expected %d\n", call, result, expected);
        ++failures;
    }
    fflush(stdout);
}

static void expectThat(const char* call, int result, int holds, const char* what)
{
    if (holds) {
        printf("  %-44s = %d (%s)\n", call, result, what);
    } else {
        printf("  %-44s = %d   FAIL: expected %s\n", call, result, what);
        ++failures;
    }
    fflush(stdout);
}

/* The device, opened by this program beside the library's own openings. */
static HANDLE device = INVALID_HANDLE_VALUE;

/* One request of the library's kind, or any other: its success (1 or 0),
 * with the byte read, the byte count and the error left in the out values. */
static int request(DWORD code, DWORD offset, DWORD inLength, BYTE value, DWORD outLength, BYTE* byte,
                   DWORD* bytes, DWORD* error)
{
    BYTE input[8] = {(BYTE)offset, (BYTE)(offset >> 8), (BYTE)(offset >> 16), (BYTE)(offset >> 24), value};
    BYTE output = 0xEE;
    BOOL ok;
    *bytes = 0xEEEE;
    ok = DeviceIoControl(device, code, input, inLength, outLength ? &output : NULL, outLength, bytes, NULL);
    *error = ok ? 0 : GetLastError();
    *byte = output;
    return ok ? 1 : 0;
}

/* A port read as the library sends it: the byte, or -1 after a failure. */
static int port(DWORD offset)
{
    BYTE byte;
    DWORD bytes;
    DWORD error;
    if (!request(0, offset, 4, 0, 1, &byte, &bytes, &error) || bytes != 1) {
        return -1;
    }
    return byte;
}

/* A port write as the library sends it: 0, or the error. */
static int setPort(DWORD offset, BYTE value)
{
    BYTE byte;
    DWORD bytes;
    DWORD error;
    return request(1, offset, 5, value, 0, &byte, &bytes, &error) ? 0 : (int)error;
}

static int openDevice(void)
{
    device = CreateFileA(DEVICE_NAME, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
    return device == INVALID_HANDLE_VALUE ? (int)GetLastError() : 0;
}

static void registerDriver(void)
{
    printf("registration, on a machine that never had the driver:\n");
    expect("AZQ4810CHECKIFDRIVER()", AZQ4810CHECKIFDRIVER(), 1);
    expect("AZQ4810SETBASEADDRESS(0x300)", AZQ4810SETBASEADDRESS(0x300), 0);
    expect("AZQ4810CHECKIFDRIVER() again", AZQ4810CHECKIFDRIVER(), 0);
}

/* The requests the driver must refuse, and two it must answer: what each
 * sends, and the error it must fail with (-1: any error; 0: it succeeds,
 * giving one byte for a read and none for a write) and the byte a read gives
 * (-1: not looked at). */
struct Request {
    const char* what;
    DWORD code, offset, inLength;
    BYTE value;
    DWORD outLength;
    int error, byte;
};
static const struct Request requests[] = {
    {"control code 2", 2, 0, 4, 0, 1, ERROR_INVALID_FUNCTION, -1},
    {"read, 3-byte input", 0, 0, 3, 0, 1, ERROR_INVALID_PARAMETER, -1},
    {"read, no output", 0, 0, 4, 0, 0, -1, -1},
    {"write, 4-byte input", 1, 0, 4, 0, 0, -1, -1},
    {"read at offset 16 = IoPortCount", 0, 16, 4, 0, 1, ERROR_INVALID_PARAMETER, -1},
    {"write at offset 0xFFFFFFFF", 1, 0xFFFFFFFF, 5, 0, 0, -1, -1},
    {"read at offset 15 (nothing there)", 0, 15, 4, 0, 1, 0, 0xFF},
    {"write with a 1-byte output", 1, 9, 5, 0x47, 1, 0, -1},
};

static void operate(void)
{
    char call[64];
    size_t row;
    int axis;
    BYTE byte;
    DWORD bytes;
    DWORD error;
    int ok;

    printf("board start and counter operations through the driver:\n");
    expect("AZQ4810INITIALIZE()", AZQ4810INITIALIZE(), 0);
    /* A third opening, beside the library's two, with no sharing at all. */
    expect("CreateFileA(device, read|write, no sharing)", openDevice(), 0);
    for (axis = 0; axis < 4; ++axis) {
        sprintf(call, "AZQ4810READPOSITION(%d)", axis);
        expect(call, AZQ4810READPOSITION(axis), PATTERN_COUNT);
    }
    expect("  port 8 (mode fields 0, 1)", port(8), 0);
    expect("  port 9 (mode fields 2, 3)", port(9), 0);

    expect("AZQ4810RESETCOUNTER(1)", AZQ4810RESETCOUNTER(1), 0);
    expect("AZQ4810READPOSITION(1)", AZQ4810READPOSITION(1), 0);

    /* A preset goes to the preset register only; the counter takes it on
     * the load command, which no export sends, so the test sends it. */
    expect("AZQ4810PRWRITE(2, 0x12345678)", AZQ4810PRWRITE(2, 0x12345678), 0);
    expect("AZQ4810READPOSITION(2)", AZQ4810READPOSITION(2), PATTERN_COUNT);
    expect("  port 5 <- 0x08 (counter from preset)", setPort(5, 0x08), 0);
    expect("AZQ4810READPOSITION(2)", AZQ4810READPOSITION(2), 0x345678);
    expect("AZQ4810PRWRITE(3, 0x800000)", AZQ4810PRWRITE(3, 0x800000), 0);
    expect("  port 7 <- 0x08 (counter from preset)", setPort(7, 0x08), 0);
    expect("AZQ4810READPOSITION(3)", AZQ4810READPOSITION(3), -8388608);

    expect("AZQ4810SETMULTIPLIER(2)", AZQ4810SETMULTIPLIER(2), 0);
    expect("AZQ4810SETMULTIPLIER(3)", AZQ4810SETMULTIPLIER(3), 1);

    expect("AZQ4810CHANGEMODE(1, 3)", AZQ4810CHANGEMODE(1, 3), 0);
    expect("  port 8", port(8), 0x30);
    expect("AZQ4810CHANGEMODE(0, 5)", AZQ4810CHANGEMODE(0, 5), 0);
    expect("  port 8", port(8), 0x35);
    expect("AZQ4810CHANGEMODE(4, 2)", AZQ4810CHANGEMODE(4, 2), 0);
    expect("  port 8", port(8), 0x22);
    expect("  port 9", port(9), 0x22);
    expect("AZQ4810CHANGEMODE(5, 1)", AZQ4810CHANGEMODE(5, 1), 0);
    expect("AZQ4810READPOSITION(4)", AZQ4810READPOSITION(4), 1);

    printf("requests the driver must refuse (and one it must answer):\n");
    for (row = 0; row < sizeof requests / sizeof requests[0]; ++row) {
        const struct Request* r = &requests[row];
        ok = request(r->code, r->offset, r->inLength, r->value, r->outLength, &byte, &bytes, &error);
        sprintf(call, "  %s: succeeded", r->what);
        expect(call, ok, r->error == 0);
        if (r->error > 0) {
            sprintf(call, "  %s: error", r->what);
            expect(call, (int)error, r->error);
        }
        if (r->error == 0) {
            sprintf(call, "  %s: bytes returned", r->what);
            expect(call, (int)bytes, (int)r->outLength == 1 && r->code == 0 ? 1 : 0);
        }
        if (r->byte >= 0) {
            sprintf(call, "  %s: byte", r->what);
            expect(call, byte, r->byte);
        }
    }
    expect("  port 9", port(9), 0x47);

    expect("CloseHandle(own opening)", CloseHandle(device) ? 0 : (int)GetLastError(), 0);
    expect("AZQ4810CLOSE()", AZQ4810CLOSE(), 0);
}

/* The counters move on their own when the registration asks the simulated
 * board for it: axis n at n+1 times the rate, the odd axes backwards. */
static void motion(void)
{
    int before[4];
    int axis;
    char call[64];

    printf("encoder motion of the simulated board:\n");
    expect("AZQ4810INITIALIZE()", AZQ4810INITIALIZE(), 0);
    expect("AZQ4810SETMULTIPLIER(1)", AZQ4810SETMULTIPLIER(1), 0);
    for (axis = 0; axis < 4; ++axis) {
        AZQ4810RESETCOUNTER(axis);
        before[axis] = AZQ4810READPOSITION(axis);
    }
    Sleep(300);
    for (axis = 0; axis < 4; ++axis) {
        const int now = AZQ4810READPOSITION(axis);
        sprintf(call, "AZQ4810READPOSITION(%d) after 300 ms", axis);
        expectThat(call, now, axis % 2 == 0 ? now > before[axis] : now < before[axis],
                   axis % 2 == 0 ? "counting up" : "counting down");
    }
    expect("AZQ4810CLOSE()", AZQ4810CLOSE(), 0);
}

/* The board variant, where nothing answers at the ports: every axis fails
 * its self-test at the first read. tests/e2e/run checks the port accesses
 * themselves. */
static void boardPorts(void)
{
    printf("the board variant, with no board at its ports:\n");
    expect("AZQ4810INITIALIZE()", AZQ4810INITIALIZE(), 15);
    expect("AZQ4810PRWRITE(1, 0x123456)", AZQ4810PRWRITE(1, 0x123456), 0);
    expect("AZQ4810CHANGEMODE(4, 5)", AZQ4810CHANGEMODE(4, 5), 0);
    expect("AZQ4810CLOSE()", AZQ4810CLOSE(), 0);
}

/* The x64 board variant under 64-bit Wine, which does not emulate the
 * port instructions: the driver's first port write ends its host process.
 * The board start then reads nothing (every axis fails its self-test), and
 * every later request fails: 255 for each port write an export makes. */
static void boardStopped(void)
{
    printf("the board variant, its host process ended at the first port write:\n");
    expect("AZQ4810INITIALIZE()", AZQ4810INITIALIZE(), 15);
    expect("AZQ4810PRWRITE(1, 0x123456): 4 port writes", AZQ4810PRWRITE(1, 0x123456), 4 * 255);
    expect("AZQ4810CHANGEMODE(4, 5): 2 port writes", AZQ4810CHANGEMODE(4, 5), 2 * 255);
    expect("AZQ4810CLOSE()", AZQ4810CLOSE(), 0);
}

static void removeDriver(void)
{
    HKEY key;
    LONG opened;
    printf("removal:\n");
    /* The system adds an Enum subkey to a running legacy driver's service
     * key; this system does not, so that one deletion fails. */
    expect("AZQ4810DELETEALL()", AZQ4810DELETEALL(), 255);
    opened = RegOpenKeyExA(HKEY_LOCAL_MACHINE, SERVICE_KEY, 0, KEY_READ, &key);
    if (opened == ERROR_SUCCESS) {
        RegCloseKey(key);
    }
    expect("RegOpenKeyExA(service key)", (int)opened, ERROR_FILE_NOT_FOUND);
}

static void absent(void)
{
    printf("no driver running:\n");
    expect("CreateFileA(device)", openDevice(), ERROR_FILE_NOT_FOUND);
    expect("AZQ4810INITIALIZE()", AZQ4810INITIALIZE(), 255);
}

int main(int argc, char** argv)
{
    static const struct {
        const char* name;
        void (*run)(void);
    } phases[] = {
        {"register", registerDriver}, {"operate", operate}, {"motion", motion},
        {"remove", removeDriver},     {"absent", absent},   {"board", boardPorts},
        {"board-stopped", boardStopped},
    };
    size_t i;
    for (i = 0; argc == 2 && i < sizeof phases / sizeof phases[0]; ++i) {
        if (strcmp(argv[1], phases[i].name) == 0) {
            phases[i].run();
            if (failures != 0) {
                printf("%d unexpected results\n", failures);
            }
            return failures;
        }
    }
    fprintf(stderr, "usage: zq4810_e2e register|operate|motion|remove|absent|board|board-stopped\n");
    return 100;
}
