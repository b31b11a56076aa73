// The shipped binaries' code that ran (see coverage.h).
#include "emulator/coverage.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace Emulator {
namespace {

constexpr int MaxCovered = 8;        // binaries one program runs
constexpr int MaxWatched = 4;        // machines at once
constexpr uint64_t MaxImage = 1 << 16; // the shipped images are a few pages

// What ran of one binary in this process, over all its loads.
struct Covered {
    char name[64]; // the file's, as the results folder has it: "i386-2KZQ4810.dll", "x64-board-ZQ4810.sys"
    char identity[96]; // its size and time, so that a rebuilt binary starts afresh
    uint64_t size;
    uint8_t reached[MaxImage / 8];
};

// A machine running one of them.
struct Watched {
    uc_engine* uc;
    uc_hook hook;
    Covered* covered;
    uint64_t base;
};

Covered covered[MaxCovered];
int coveredCount;
Watched watched[MaxWatched];
BlockObserver observer;
bool flushAtExit;
bool fresh; // a byte reached since the last write

void onBlock(uc_engine*, uint64_t address, uint32_t size, void* user)
{
    const Watched& at = *static_cast<Watched*>(user);
    const uint64_t offset = address - at.base;
    if (observer != nullptr) {
        observer(offset, size);
    }
    Covered* binary = at.covered;
    if (binary == nullptr) {
        return;
    }
    for (uint64_t byte = offset; byte < offset + size && byte < binary->size; ++byte) {
        uint8_t& bits = binary->reached[byte / 8];
        fresh = fresh || (bits & 1u << (byte % 8)) == 0;
        bits = static_cast<uint8_t>(bits | 1u << (byte % 8));
    }
}

// The width, the folder unless it is the usual "bin", and the file's name.
void nameOf(const Machine& machine, const char* path, char* name, size_t size)
{
    const char* slash = std::strrchr(path, '/');
    const char* file = slash != nullptr ? slash + 1 : path;
    const char* folder = slash != nullptr ? slash : path;
    while (folder > path && folder[-1] != '/') {
        --folder;
    }
    const int length = static_cast<int>(slash != nullptr ? slash - folder : 0);
    const bool plain = length == 0 || (length == 3 && std::strncmp(folder, "bin", 3) == 0);
    std::snprintf(name, size, "%s-%.*s%s%s", machine.bits == 64 ? "x64" : "i386", plain ? 0 : length, folder,
                  plain ? "" : "-", file);
}

Covered* binaryOf(const Machine& machine, const Image& image, const char* path)
{
    struct stat file;
    if (image.size > MaxImage || stat(path, &file) != 0) {
        return nullptr;
    }
    char name[64], identity[96];
    nameOf(machine, path, name, sizeof name);
    std::snprintf(identity, sizeof identity, "image %llu file %lld time %lld.%09ld",
                  static_cast<unsigned long long>(image.size), static_cast<long long>(file.st_size),
                  static_cast<long long>(file.st_mtim.tv_sec), file.st_mtim.tv_nsec);
    for (int k = 0; k < coveredCount; ++k) {
        if (std::strcmp(covered[k].name, name) == 0 && std::strcmp(covered[k].identity, identity) == 0) {
            return &covered[k];
        }
    }
    if (coveredCount == MaxCovered) {
        return nullptr;
    }
    Covered& binary = covered[coveredCount++];
    std::memcpy(binary.name, name, sizeof name);
    std::memcpy(binary.identity, identity, sizeof identity);
    binary.size = image.size;
    return &binary;
}

// OR-s this process's map into the file, under a lock: the tests run as
// processes of their own, some at once. A file of another build of the
// binary is replaced.
void flush(const char* folder, const Covered& binary)
{
    char path[512];
    std::snprintf(path, sizeof path, "%.400s/%.63s.reached", folder, binary.name);
    static uint8_t old[128 + MaxImage / 8], merged[sizeof old];
    const size_t header = static_cast<size_t>(
        std::snprintf(reinterpret_cast<char*>(merged), 128, "ZQ4810 reached %s\n", binary.identity));
    const size_t total = header + (binary.size + 7) / 8;
    const int fd = ::open(path, O_RDWR | O_CREAT, 0644);
    if (fd < 0) {
        return;
    }
    if (flock(fd, LOCK_EX) == 0) {
        const bool same = pread(fd, old, sizeof old, 0) == static_cast<ssize_t>(total) &&
                          std::memcmp(old, merged, header) == 0;
        for (size_t i = header; i < total; ++i) {
            merged[i] = static_cast<uint8_t>(binary.reached[i - header] | (same ? old[i] : 0));
        }
        if (pwrite(fd, merged, total, 0) == static_cast<ssize_t>(total)) {
            (void)ftruncate(fd, static_cast<off_t>(total));
        }
        flock(fd, LOCK_UN);
    }
    ::close(fd);
}

void flushAll()
{
    const char* folder = std::getenv("ZQ4810_COVERAGE");
    if (folder == nullptr || folder[0] == '\0') {
        return;
    }
    char path[512];
    std::snprintf(path, sizeof path, "%s", folder);
    for (char* slash = std::strchr(path + 1, '/'); slash != nullptr; slash = std::strchr(slash + 1, '/')) {
        *slash = '\0';
        mkdir(path, 0755); // each folder on the way, as mkdir -p
        *slash = '/';
    }
    mkdir(path, 0755);
    for (int k = 0; k < coveredCount; ++k) {
        flush(folder, covered[k]);
    }
}

} // namespace

void cover(Machine& machine, const Image& image, const char* path)
{
    const char* folder = std::getenv("ZQ4810_COVERAGE");
    const bool recording = folder != nullptr && folder[0] != '\0';
    if (!recording && observer == nullptr) {
        return;
    }
    stopCovering(machine);
    if (image.codeCount == 0) {
        return;
    }
    for (Watched& slot : watched) {
        if (slot.uc != nullptr) {
            continue;
        }
        slot = Watched{machine.uc, 0, recording ? binaryOf(machine, image, path) : nullptr, image.base};
        const Range code = {image.code[0].begin, image.code[image.codeCount - 1].end};
        if (uc_hook_add(machine.uc, &slot.hook, UC_HOOK_BLOCK, reinterpret_cast<void*>(onBlock), &slot, code.begin,
                        code.end - 1) != UC_ERR_OK) {
            slot = Watched{};
            return;
        }
        if (recording && !flushAtExit) {
            flushAtExit = std::atexit(flushAll) == 0;
        }
        return;
    }
}

void stopCovering(const Machine& machine)
{
    for (Watched& slot : watched) {
        if (slot.uc != nullptr && slot.uc == machine.uc) {
            uc_hook_del(slot.uc, slot.hook);
            slot = Watched{};
        }
    }
}

void writeCoverage()
{
    if (fresh) {
        fresh = false;
        flushAll();
    }
}

void observeBlocks(BlockObserver observe) { observer = observe; }

} // namespace Emulator
