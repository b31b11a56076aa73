#include "install/install.h"

#include "zq4810/result_code.h"
#include "common/user_notice.h"
#include "zq4810/registry_paths.h"
#include "platform/win32.h"

namespace DriverRemoval {

namespace {

// Removal notices carry the upper-case caption of the device channel.
constexpr const char Caption[] = "ERROR!";
constexpr const char TextService[] = "Failed to delete the ZQ4810 device.";
constexpr const char TextParameters[] = "Failed to delete the ZQ4810 subkey 'Parameters.'";
constexpr const char TextEnum[] = "Failed to delete the ZQ4810 subkey 'Enum.'";

// 0 when the key is gone, else 255 after the notice.
i32 deleteKey(const char* path, const char* failureText)
{
    if (RegDeleteKeyA(HKEY_LOCAL_MACHINE, path) != ERROR_SUCCESS) {
        Notice::UserNotice(failureText, Caption, Notice::ErrorStyle);
        return ResultCode::Failure;
    }
    return ResultCode::Success;
}

} // namespace

i32 deleteService()
{
    return deleteKey(RegistryPaths::ServiceKey, TextService);
}

i32 deleteAll()
{
    // The subkeys first: a key with subkeys cannot be deleted. Each step runs
    // whatever the one before gave, in this order.
    i32 result = deleteKey(RegistryPaths::ParametersKey, TextParameters);
    result += deleteKey(RegistryPaths::EnumKey, TextEnum);
    result += deleteKey(RegistryPaths::ServiceKey, TextService);
    return result;
}

} // namespace DriverRemoval
