// What the fleet needs of the file system: record files that no tool inherits and that can be
// synced to the disk, writes past a file-size limit that fail rather than end the program, and
// finding the tool. One implementation per platform (files_posix.cpp, files_win32.cpp).
#pragma once

#include <cstdio>
#include <optional>
#include <string>

namespace files {

// Opens path for writing, appending to it or emptying it first, so that no child process
// inherits it; nullptr with the reason in error.
std::FILE* open_for_writing(const std::string& path, bool append, std::string& error);

// Writes what the file's buffer holds and then the file's data to the disk; false with the
// reason.
bool sync(std::FILE* file, std::string& error);

// From now on a write beyond the process's file-size limit fails with an error to report rather
// than ending the program (POSIX: SIGXFSZ is ignored).
void keep_running_past_file_limits();

// The program that command names, as a child would be started with it: a path (checked that it
// is a file that can be run) or a bare name looked up in PATH. The path found, or nothing with
// the reason in why.
std::optional<std::string> find_program(const std::string& command, std::string& why);

// Standard output from now on passes bytes as they are written (Windows would turn each "\n" into
// "\r\n"), for output whose line ends are its own, such as CSV's "\r\n".
void binary_standard_output();

// The system's text for an error number.
std::string error_text(int error);

}  // namespace files
