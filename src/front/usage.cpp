#include "front/usage.h"

#include <cstdlib>

#include "link/console.h"
#include "platform/platform.h"

std::string usage_text(std::string_view program_name) {
    const std::string name(program_name);
    std::string text = "Usage: " + name + " <hostname> <port> <command> [<filename>]\n";
    text +=
        "Options: <command> = [ version | getconfig | erase | erasesys | eraseuser |\n"
        "                       erasereserve | eraseregistry | erasedisk |\n"
        "                       updatesys | updatereserve | updaterom | formatdisk ].\n"
        "                     [erase] erases everything except registry and ROM.\n"
        "         <filename> is to be used with updatesys, updatereserve,\n"
        "                    updaterom and formatdisk.\n";
    static constexpr std::string_view kExamples[] = {
        "version",
        "getconfig",
        "erase",
        "erasesys",
        "eraseuser",
        "erasereserve",
        "eraseregistry",
        "erasedisk",
        "updatesys project.tvm",
        "updatereserve project.tvm",
        "updaterom eboot.hex",
        "formatdisk filesys.bin",
    };
    bool first = true;
    for (std::string_view example : kExamples) {
        text += first ? "Examples: " : "          ";
        text += name + " 10.10.10.10 4000 " + std::string(example) + "\n";
        first = false;
    }
    return text;
}

void print_usage_and_exit(std::string_view program_name) {
    print_err("%s", usage_text(program_name).c_str());
    platform::net_cleanup();
    std::exit(1);
}
