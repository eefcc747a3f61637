#include <string>
#include <vector>

#include "fleet_main.h"

int main(int argc, char** argv) {
    return fleet::fleet_main(std::vector<std::string>(argv + 1, argv + argc));
}
