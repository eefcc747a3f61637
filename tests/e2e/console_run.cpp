// A Windows program for the console tests: run in a real console window, it starts a program in
// that console as an operator would, then reads the console back.
//   console_run.exe OUTPUT SECONDS PROGRAM [ARGS...]
// It waits at most SECONDS for PROGRAM and ends it by its handle when it takes longer, then writes
// to OUTPUT the line "status N width W" and every row of the console up to the cursor, without
// the blanks at their ends. Ctrl-C in the console does not end it, so that it can tell what the
// program did. It then holds the console open until Enter is pressed in it (at most SECONDS), so
// that the window can be photographed with the text in it.
#include <windows.h>

#include <fstream>
#include <string>

namespace {

BOOL WINAPI outlive_interrupts(DWORD) {
    return TRUE;
}

std::string command_line(int argc, char** argv) {
    std::string line;
    for (int i = 3; i < argc; ++i) {
        if (i > 3) {
            line += ' ';
        }
        line += argv[i];
    }
    return line;
}

// The program's exit status, or -1 when it did not start or did not end within the time.
long run_program(std::string line, DWORD milliseconds) {
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
        return -1;
    }
    DWORD status = static_cast<DWORD>(-1);
    if (WaitForSingleObject(process.hProcess, milliseconds) != WAIT_OBJECT_0) {
        TerminateProcess(process.hProcess, status);
        WaitForSingleObject(process.hProcess, INFINITE);
    } else {
        GetExitCodeProcess(process.hProcess, &status);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return static_cast<long>(status);
}

void write_console_rows(std::ofstream& out) {
    HANDLE console = GetStdHandle(STD_OUTPUT_HANDLE);
    CONSOLE_SCREEN_BUFFER_INFO info{};
    GetConsoleScreenBufferInfo(console, &info);
    const SHORT width = info.dwSize.X;
    out << " width " << width << "\n";
    for (SHORT row = 0; row <= info.dwCursorPosition.Y; ++row) {
        std::string text(static_cast<std::size_t>(width), ' ');
        DWORD read = 0;
        ReadConsoleOutputCharacterA(console, text.data(), static_cast<DWORD>(width), {0, row},
                                    &read);
        text.erase(text.find_last_not_of(' ') + 1);
        out << text << "\n";
    }
}

void wait_for_enter(DWORD milliseconds) {
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    const DWORD end = GetTickCount() + milliseconds;
    for (DWORD now = GetTickCount(); end - now <= milliseconds; now = GetTickCount()) {
        INPUT_RECORD record{};
        DWORD read = 0;
        if (WaitForSingleObject(input, end - now) != WAIT_OBJECT_0 ||
            !ReadConsoleInputA(input, &record, 1, &read)) {
            return;
        }
        if (read == 1 && record.EventType == KEY_EVENT && record.Event.KeyEvent.bKeyDown &&
            record.Event.KeyEvent.wVirtualKeyCode == VK_RETURN) {
            return;
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        return 2;
    }
    SetConsoleCtrlHandler(outlive_interrupts, TRUE);
    const DWORD milliseconds = static_cast<DWORD>(std::stoul(argv[2])) * 1000;
    const long status = run_program(command_line(argc, argv), milliseconds);
    // Written under another name first, so that a reader never finds half of it.
    const std::string part = std::string(argv[1]) + ".part";
    {
        std::ofstream out(part, std::ios::binary);
        out << "status " << status;
        write_console_rows(out);
    }
    MoveFileExA(part.c_str(), argv[1], MOVEFILE_REPLACE_EXISTING);
    wait_for_enter(milliseconds);
    return 0;
}
