#include "host/OpenCommand.h"

#include <cstdlib>
#include <sstream>
#include <string>

namespace host {

void ProvideOpenCommand() {
    const char* path = std::getenv("PATH");
    const std::string current = path ? path : "";
    std::istringstream entries(current);
    for (std::string entry; std::getline(entries, entry, ':');)
        if (entry == UMBRAFEX_HOST_BIN_DIR) return;
    const std::string value = current.empty() ? UMBRAFEX_HOST_BIN_DIR : UMBRAFEX_HOST_BIN_DIR ":" + current;
    setenv("PATH", value.c_str(), 1);
}

}  // namespace host
