// Who and where on Windows.
#include <windows.h>

#include "os/host.h"

namespace host {

std::string host_name() {
    char name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = sizeof name;
    return GetComputerNameA(name, &size) && size > 0 ? std::string(name, size) : "unknown";
}

std::string login_name() {
    char name[256] = {};
    DWORD size = sizeof name;
    return GetUserNameA(name, &size) && size > 1 ? std::string(name, size - 1) : "unknown";
}

}  // namespace host
