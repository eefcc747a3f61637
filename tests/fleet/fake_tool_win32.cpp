// A stand-in for tvflash.exe in the fleet's tests of the Windows build, run by tvflash-fleet.exe
// as `fleet_fake_tool.exe ADDRESS PORT COMMAND`. What it does comes from the environment variable
// TVFLASH_FAKE_TOOL, "MODE FOLDER" with FOLDER a Windows path:
//   sleep    appends its process id to FOLDER\pids, then sleeps 30 s and exits 0
//   handles  opens its own program file, then writes the path of every file handle it holds
//            to FOLDER\handles-PORT (its program among them) and exits 0
//   break    appends its process id to FOLDER\pids, then waits 30 s for Ctrl-Break: when it
//            comes, it writes FOLDER\break-PORT, waits 300 ms and exits with status 7
#include <windows.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

namespace {

HANDLE break_came = nullptr;

BOOL WINAPI on_console_event(DWORD event) {
    if (event != CTRL_BREAK_EVENT) {
        return FALSE;
    }
    SetEvent(break_came);
    return TRUE;
}

void append_line(const std::string& path, const std::string& line) {
    std::ofstream(path, std::ios::app) << line << "\n";
}

// Every handle value is a multiple of four; those that name a file on disk are listed.
std::string file_handles() {
    std::string paths;
    for (std::uintptr_t value = 4; value < 0x10000; value += 4) {
        HANDLE handle = reinterpret_cast<HANDLE>(value);
        DWORD flags = 0;
        if (!GetHandleInformation(handle, &flags) || GetFileType(handle) != FILE_TYPE_DISK) {
            continue;
        }
        char path[MAX_PATH * 4];
        DWORD length = GetFinalPathNameByHandleA(handle, path, sizeof path, 0);
        paths += (length > 0 && length < sizeof path ? std::string(path, length) : "?") + "\n";
    }
    return paths;
}

}  // namespace

int main(int argc, char** argv) {
    const char* setting = std::getenv("TVFLASH_FAKE_TOOL");
    if (setting == nullptr || argc < 3) {
        return 2;
    }
    std::istringstream words(setting);
    std::string mode;
    std::string folder;
    words >> mode >> folder;
    const std::string port = argv[2];
    if (mode == "handles") {
        HANDLE own =
            CreateFileA(argv[0], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        std::string paths = file_handles();
        CloseHandle(own);
        std::ofstream(folder + "\\handles-" + port) << paths;
        return 0;
    }
    break_came = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(on_console_event, TRUE);
    append_line(folder + "\\pids", std::to_string(GetCurrentProcessId()));
    if (mode == "break" && WaitForSingleObject(break_came, 30000) == WAIT_OBJECT_0) {
        append_line(folder + "\\break-" + port, "break");
        Sleep(300);
        return 7;
    }
    Sleep(30000);
    return 0;
}
