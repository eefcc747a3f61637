// The files of --write-dir: the bytes that the board stored for each completed update, so that a
// test can compare what the board holds with the image.
#pragma once

#include <string>

namespace sim {

// The path of the number-th update's file in dir: "dir/update-<number>.bin".
std::string update_file_path(const std::string& dir, int number);

// Writes bytes to the number-th update's file; the file appears whole (written aside, then
// renamed). Returns false, with the reason on standard error, when it cannot be written.
bool write_update_file(const std::string& dir, int number, const std::string& bytes);

}  // namespace sim
