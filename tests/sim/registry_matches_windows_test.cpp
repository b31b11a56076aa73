// The simulated registry behaves like the real one where the library relies
// on it. These calls go to the in-memory store on the host and to Wine's
// registry in the Windows test program, so the same assertions hold the
// simulator to the real thing.
#include "zq4810/registry_paths.h"
#include "platform/win32.h"
#include "tests/support.h"

namespace {

using RegistryMatchesWindows = LibraryTest;

const char* const Base = RegistryPaths::ServiceKey;

LONG create(const char* path, HKEY& key, DWORD& disposition)
{
    return RegCreateKeyExA(HKEY_LOCAL_MACHINE, path, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                           &key, &disposition);
}

LONG open(const char* path, HKEY& key)
{
    return RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_ALL_ACCESS, &key);
}

TEST_F(RegistryMatchesWindows, CreatingMakesMissingParentsAndTellsNewFromExisting)
{
    HKEY key = nullptr;
    DWORD disposition = 0;
    ASSERT_EQ(create("SYSTEM\\CurrentControlSet\\Services\\ZQ4810\\A\\B", key, disposition), ERROR_SUCCESS);
    EXPECT_EQ(disposition, static_cast<DWORD>(REG_CREATED_NEW_KEY));
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    EXPECT_TRUE(Sim::registryKeyExists(Base));

    // The same key, named in other case and with a trailing backslash.
    ASSERT_EQ(create("system\\currentcontrolset\\services\\zq4810\\a\\b\\", key, disposition), ERROR_SUCCESS);
    EXPECT_EQ(disposition, static_cast<DWORD>(REG_OPENED_EXISTING_KEY));
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    ASSERT_EQ(create(Base, key, disposition), ERROR_SUCCESS);
    EXPECT_EQ(disposition, static_cast<DWORD>(REG_OPENED_EXISTING_KEY));
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
}

TEST_F(RegistryMatchesWindows, OpeningFindsExistingKeysOnly)
{
    HKEY key = nullptr;
    EXPECT_EQ(open(Base, key), ERROR_FILE_NOT_FOUND);
    ASSERT_EQ(open(RegistryPaths::ServicesRootOpened, key), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    Sim::registryCreateKey(Base);
    ASSERT_EQ(open("SYSTEM\\CURRENTCONTROLSET\\SERVICES\\zq4810", key), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
}

TEST_F(RegistryMatchesWindows, ValuesKeepTheirTypeAndExactBytes)
{
    HKEY key = nullptr;
    DWORD disposition = 0;
    ASSERT_EQ(create(Base, key, disposition), ERROR_SUCCESS);
    const BYTE binary[] = {0x00, 0xFF, 0x00, 0x7F, 0x80};
    const char text[] = "Extended Base";
    EXPECT_EQ(RegSetValueExA(key, "Bytes", 0, REG_BINARY, binary, sizeof binary), ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExA(key, "Text", 0, REG_SZ, reinterpret_cast<const BYTE*>(text), sizeof text),
              ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);

    EXPECT_EQ(TestSupport::registryValue(Base, "bytes"),
              (TestSupport::RegistryValue{REG_BINARY, {0x00, 0xFF, 0x00, 0x7F, 0x80}}));
    EXPECT_EQ(TestSupport::registryValue(Base, "Text"), TestSupport::textValue(REG_SZ, "Extended Base"));
    EXPECT_EQ(TestSupport::registryValue(Base, "Missing"), (TestSupport::RegistryValue{0, {}}));
}

TEST_F(RegistryMatchesWindows, DeletingRefusesKeysWithSubkeysAndMissingKeys)
{
    Sim::registryCreateKey(RegistryPaths::ParametersKey);
    EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, Base), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, RegistryPaths::EnumKey), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\zq4810\\PARAMETERS"),
              ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, Base), ERROR_SUCCESS);
    EXPECT_FALSE(Sim::registryKeyExists(Base));
    EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, Base), ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryMatchesWindows, ClosingAHandleThatIsNotOpenFails)
{
    HKEY key = nullptr;
    DWORD disposition = 0;
    ASSERT_EQ(create(Base, key, disposition), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    EXPECT_NE(RegCloseKey(key), ERROR_SUCCESS);
}

} // namespace
