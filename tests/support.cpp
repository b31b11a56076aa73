#include "tests/support.h"

#include "zq4810/registry_paths.h"

#include <algorithm>
#include <cstdio>
#include <ostream>
#include <strings.h>

namespace TestSupport {

std::string describe(const Sim::ShownNotice& notice)
{
    char style[16];
    std::snprintf(style, sizeof style, "0x%02X", static_cast<unsigned>(notice.style));
    return std::string(notice.caption) + "|" + notice.text + "|" + style +
           (notice.ownerWindow ? "|owned" : "");
}

std::vector<std::string> notices()
{
    std::vector<std::string> all;
    for (int i = 0; i < Sim::noticeCount(); ++i) {
        all.push_back(describe(Sim::notice(i)));
    }
    return all;
}

std::vector<std::string> repeated(const std::string& notice, int times)
{
    return std::vector<std::string>(static_cast<size_t>(times), notice);
}

std::vector<std::string> operator+(std::vector<std::string> a, const std::vector<std::string>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

void clearRecords()
{
    Sim::clearTrace();
    Sim::clearNotices();
    Sim::clearRegistryCalls();
    Sim::resetCounts();
    Sim::clearFaults(); // a fault by number would strike again once counts restart
}

void initializeQuietly()
{
    ASSERT_EQ(AZQ4810INITIALIZE(), 0);
    clearRecords();
}

} // namespace TestSupport

void LibraryTest::SetUp()
{
    // Close whatever an earlier test left open, then start from a clean
    // machine: the library's module state lives as long as the process.
    Sim::reset();
    Sim::echoNotices(false);
    AZQ4810CLOSE();
    Sim::reset();
    Sim::echoNotices(false);
}

void LibraryTest::TearDown()
{
    Sim::echoNotices(false);
    AZQ4810CLOSE();
}

namespace TestSupport {

namespace {

std::string shortPath(const char* path)
{
    const std::string root = RegistryPaths::ServicesRoot;
    std::string p = path;
    if (p.size() >= root.size() && strncasecmp(p.c_str(), root.c_str(), root.size()) == 0) {
        p = p.substr(root.size());
        if (!p.empty() && p[0] == '\\') {
            p = p.substr(1);
        }
        if (p.empty()) {
            return "(services)";
        }
    }
    return p;
}

} // namespace

std::string registryTrace()
{
    std::string line;
    for (int i = 0; i < Sim::registryCallCount(); ++i) {
        const Sim::RegistryCall call = Sim::registryCall(i);
        if (!line.empty()) {
            line += ' ';
        }
        line += call.operation;
        if (call.operation == 'S') {
            line += std::string(":") + call.valueName;
        } else if (call.operation != 'X') {
            line += ":" + shortPath(call.path);
        }
        if (call.result != 0) {
            line += '!';
        }
    }
    return line;
}

RegistryValue registryValue(const char* path, const char* name)
{
    uint8_t data[256];
    uint32_t type = 0;
    uint32_t size = sizeof data;
    if (!Sim::registryValue(path, name, &type, data, &size)) {
        return RegistryValue{0, {}};
    }
    return RegistryValue{type, std::vector<uint8_t>(data, data + std::min<uint32_t>(size, sizeof data))};
}

RegistryValue dwordValue(uint32_t value)
{
    return RegistryValue{4, {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                             static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)}};
}

RegistryValue textValue(uint32_t type, const std::string& text)
{
    std::vector<uint8_t> bytes(text.begin(), text.end());
    bytes.push_back(0);
    return RegistryValue{type, bytes};
}

void PrintTo(const RegistryValue& value, std::ostream* out)
{
    *out << "type " << value.type << ", " << value.bytes.size() << " bytes:";
    for (uint8_t byte : value.bytes) {
        char hex[4];
        std::snprintf(hex, sizeof hex, " %02X", byte);
        *out << hex;
    }
}

} // namespace TestSupport
