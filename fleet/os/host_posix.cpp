// Who and where on POSIX systems.
#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

#include "os/host.h"

namespace host {

std::string host_name() {
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') {
        return "unknown";
    }
    return name;
}

std::string login_name() {
    // LOGNAME and USER name the login even under su or sudo -E; the password entry of the user
    // the process runs as otherwise.
    for (const char* variable : {"LOGNAME", "USER"}) {
        const char* name = std::getenv(variable);
        if (name != nullptr && name[0] != '\0') {
            return name;
        }
    }
    const passwd* entry = getpwuid(getuid());
    return entry != nullptr && entry->pw_name != nullptr ? entry->pw_name : "unknown";
}

}  // namespace host
