// Who and where the fleet runs, for its record: the host's name and the operator's login name.
// One implementation per platform (host_posix.cpp, host_win32.cpp).
#pragma once

#include <string>

namespace host {

// The machine's name; "unknown" when the system cannot tell.
std::string host_name();

// The name the operator logged in with; "unknown" when the system cannot tell.
std::string login_name();

}  // namespace host
