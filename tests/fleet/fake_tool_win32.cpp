// A stand-in for tvflash.exe in the fleet's tests of the Windows build, run by tvflash-fleet.exe
// as `fleet_fake_tool.exe ADDRESS PORT COMMAND`. The environment variable TVFLASH_FAKE_TOOL says
// what it does, "MODE FOLDER" with FOLDER a Windows path:
//   handles  prints the path of every file it holds open (its own program file, which it opens,
//            among them) and exits 1 when one is in a folder named "record", 3 when its own is
//            not listed, else 0
//   break    appends its process id to FOLDER\pids and waits 30 s for Ctrl-Break: when it
//            comes, it waits 300 ms and exits with status 7
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

namespace {

HANDLE break_came = CreateEventA(nullptr, TRUE, FALSE, nullptr);

BOOL WINAPI on_console_event(DWORD event) {
    return event == CTRL_BREAK_EVENT && SetEvent(break_came);
}

// Every handle value is a multiple of four.
int list_files(const char* own) {
    HANDLE own_file =
        CreateFileA(own, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    bool own_seen = false;
    bool record_seen = false;
    for (std::uintptr_t value = 4; value < 0x10000; value += 4) {
        HANDLE handle = reinterpret_cast<HANDLE>(value);
        char path[MAX_PATH * 4];
        if (GetFileType(handle) == FILE_TYPE_DISK &&
            GetFinalPathNameByHandleA(handle, path, sizeof path, 0) < sizeof path) {
            std::printf("%s\n", path);
            own_seen |= handle == own_file;
            record_seen |= std::string(path).find("\\record\\") != std::string::npos;
        }
    }
    return record_seen ? 1 : own_seen ? 0 : 3;
}

}  // namespace

int main(int argc, char** argv) {
    const char* setting = std::getenv("TVFLASH_FAKE_TOOL");
    std::istringstream words(setting != nullptr ? setting : "");
    std::string mode;
    std::string folder;
    if (!(words >> mode >> folder) || argc < 3) {
        return 2;
    }
    if (mode == "handles") {
        return list_files(argv[0]);
    }
    SetConsoleCtrlHandler(on_console_event, TRUE);
    std::ofstream(folder + "\\pids", std::ios::app) << GetCurrentProcessId() << "\n";
    if (WaitForSingleObject(break_came, 30000) != WAIT_OBJECT_0) {
        return 0;
    }
    Sleep(300);
    return 7;
}
