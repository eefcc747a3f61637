// What the tool prints, as the end-to-end tests expect it byte for byte.
#pragma once

#include <cstdint>
#include <string>

namespace e2e {

// The connecting line for the loopback board, and the same with the probe's "." after it.
inline std::string connecting_line(std::uint16_t port) {
    return "Connecting to target 127.0.0.1 on port " + std::to_string(port) + "...";
}
inline std::string after_probe(std::uint16_t port) {
    return connecting_line(port) + ".";
}

inline const std::string kTimedOut = "timeout.\nTarget system not responding.\n";

inline std::string conflict_line(int boards) {
    return "ERROR: IP address conflict (" + std::to_string(boards) +
           " target boards use the same\nIP address 127.0.0.1).\n";
}

inline const std::string kEraseStarted = "OK.\nFlash memory is being erased...";
inline const std::string kErased = "OK.\nFlash memory has been successfully erased.\n";
inline const std::string kNoSystemArea =
    "FAILED (suitable for erasure data not found inside System Area).\n";
inline const std::string kNoReserve = "FAILED (reserve system not found inside flash memory).\n";
inline const std::string kNoFileSystem =
    "FAILED (flash file system not found inside flash memory).\n";
inline const std::string kFileSystemPresent =
    "FAILED (existing flash file system will be destroyed if this operation proceeds).\n";
inline std::string erase_error(const std::string& code) {
    return "ERR.\nERROR: unsuccessful erase of flash memory (code " + code + ").\n";
}

inline const std::string kRule =
    "-------------------------------------------------------------------------------\n";
inline const std::string kConfigHeader =
    "OK.\n"
    "                           Flash memory configuration\n" +
    kRule + "      Address Range     |          Area Name          |          Size\n" + kRule;

inline std::string upper(std::string text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return text;
}

// Standard output of an update run up to "Uploading", and on to "File transfer consistency
// check..." with the progress characters of the blocks.
inline std::string upload_head(std::uint16_t port, const std::string& path, std::uint64_t size) {
    return after_probe(port) + "OK.\nRead file " + upper(path) + " (" + std::to_string(size) +
           " bytes).\nUploading";
}
inline std::string upload_output(std::uint16_t port, const std::string& path, std::uint64_t size,
                                 const std::string& progress) {
    return upload_head(port, path, size) + progress + "OK.\nTotal of " + std::to_string(size) +
           " bytes uploaded.\nFile transfer consistency check...";
}

inline const std::string kUpdating = "OK.\nUpdating flash memory...";
inline const std::string kUpdated = "OK.\nFlash memory update successful.\n";
inline const std::string kUpdateSucceeded = kUpdating + kUpdated;

// The question put before a bootloader for another board type is written.
inline std::string bootloader_warning(const std::string& stored, const std::string& update) {
    return "WARNING: bootloader destination conflict.\n"
           "Bootloader stored already at the target was\n"
           "designed for target of type " +
           stored +
           "\n"
           "and bootloader for update was designed\n"
           "for target of type " +
           update +
           ".\n"
           "\n"
           "If you proceed with the version of\n"
           "bootloader not really fitting to your\n"
           "hardware then your hardware can be\n"
           "completely damaged.\n"
           "\n"
           "Do you want to proceed?";
}

}  // namespace e2e
