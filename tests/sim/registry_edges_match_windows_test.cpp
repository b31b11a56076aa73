// The simulated registry behaves like the real one at the edges the library
// could meet through a caller's earlier installation or a half-finished
// removal: the same assertions hold on the in-memory store and on Wine's
// registry.
#include "zq4810/registry_paths.h"
#include "platform/win32.h"
#include "tests/support.h"

#include <string>

namespace {

using RegistryEdgesMatchWindows = LibraryTest;

const char* const Base = RegistryPaths::ServiceKey;

HKEY createKey(const char* path)
{
    HKEY key = nullptr;
    DWORD disposition = 0;
    EXPECT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, path, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                              &key, &disposition),
              ERROR_SUCCESS)
        << path;
    return key;
}

TEST_F(RegistryEdgesMatchWindows, SubkeysAreListedInAlphabeticalOrderWhateverTheirCase)
{
    for (const char* name : {"Parameters", "enum", "Security", "Alpha"}) {
        Sim::registryCreateKey((std::string(Base) + "\\" + name).c_str());
    }
    ASSERT_EQ(Sim::registrySubkeyCount(Base), 4);
    EXPECT_STREQ(Sim::registrySubkeyName(Base, 0), "Alpha");
    EXPECT_STREQ(Sim::registrySubkeyName(Base, 1), "enum");
    EXPECT_STREQ(Sim::registrySubkeyName(Base, 2), "Parameters");
    EXPECT_STREQ(Sim::registrySubkeyName(Base, 3), "Security");
    EXPECT_STREQ(Sim::registrySubkeyName(Base, 4), "");
}

TEST_F(RegistryEdgesMatchWindows, AnEmptySubkeyNameDeletesTheKeyTheHandleIsOpenOn)
{
    HKEY key = createKey((std::string(Base) + "\\Parameters").c_str());
    EXPECT_EQ(RegDeleteKeyA(key, ""), ERROR_SUCCESS);
    EXPECT_FALSE(Sim::registryKeyExists((std::string(Base) + "\\Parameters").c_str()));
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);

    // A key with subkeys is refused this way too.
    key = createKey(Base);
    Sim::registryCreateKey((std::string(Base) + "\\Enum").c_str());
    EXPECT_EQ(RegDeleteKeyA(key, ""), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
}

TEST_F(RegistryEdgesMatchWindows, AHandleOnADeletedKeyStaysOpenButWritesFail)
{
    HKEY key = createKey(Base);
    EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, Base), ERROR_SUCCESS);
    const DWORD one = 1;
    EXPECT_EQ(RegSetValueExA(key, "Start", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), sizeof one), 1018);
    HKEY below = nullptr;
    DWORD disposition = 0;
    EXPECT_EQ(RegCreateKeyExA(key, "Parameters", 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &below,
                              &disposition),
              1018);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    EXPECT_FALSE(Sim::registryKeyExists(Base));
}

TEST_F(RegistryEdgesMatchWindows, ReservedArgumentsMustBeZero)
{
    HKEY key = nullptr;
    DWORD disposition = 0;
    EXPECT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, Base, 1, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                              &key, &disposition),
              ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(Sim::registryKeyExists(Base));
}

TEST_F(RegistryEdgesMatchWindows, PathsAndValuesAsLongAsAnInstallationMayWrite)
{
    HKEY key = createKey(Base);
    // A doubled backslash counts as one; a leading one is refused.
    HKEY below = createKey((std::string(Base) + "\\Parameters\\\\Deep").c_str());
    EXPECT_EQ(RegCloseKey(below), ERROR_SUCCESS);
    EXPECT_TRUE(Sim::registryKeyExists((std::string(Base) + "\\Parameters\\Deep").c_str()));
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "\\SYSTEM", 0, KEY_ALL_ACCESS, &below), 161);

    // Key names up to 255 characters, values of a few hundred bytes.
    const std::string name(200, 'k');
    below = createKey((std::string(Base) + "\\" + name).c_str());
    EXPECT_EQ(RegCloseKey(below), ERROR_SUCCESS);
    const BYTE data[200] = {1, 2, 3};
    EXPECT_EQ(RegSetValueExA(key, "Large", 0, REG_BINARY, data, sizeof data), ERROR_SUCCESS);
    uint32_t size = 0;
    EXPECT_TRUE(Sim::registryValue(Base, "Large", nullptr, nullptr, &size));
    EXPECT_EQ(size, sizeof data);

    // A size without data is an unreadable buffer.
    EXPECT_EQ(RegSetValueExA(key, "Missing", 0, REG_BINARY, nullptr, 4), 998);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
}

} // namespace
