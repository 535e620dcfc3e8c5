// The application's thin layer over the library's start-up.
#pragma once

#include <cstdint>

namespace qu {

// Thrown when the library reports that the program is to end; it carries nothing.
struct signal {
    std::int32_t code = 0;
};

// Starts the library; throws std::runtime_error("qu.init, fail to init. Quarn") when it
// cannot start.
void init();

}  // namespace qu
