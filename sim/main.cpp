// tvflash-sim: a simulated Talvium board on the network, for trying and testing tvflash without
// hardware.
#include <cstdio>
#include <string>
#include <vector>

#include "options.h"
#include "server.h"

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    sim::ParsedOptions parsed = sim::parse_options(args);
    if (!parsed.error.empty()) {
        std::fprintf(stderr, "tvflash-sim: %s\nTry 'tvflash-sim --help' for the options.\n",
                     parsed.error.c_str());
        return 2;
    }
    if (parsed.options.help) {
        std::fputs(sim::usage_text().c_str(), stdout);
        return 0;
    }
    if (parsed.options.version) {
        std::printf("tvflash-sim %s\n", TVFLASH_VERSION);
        return 0;
    }
    return sim::run_server(parsed.options);
}
