#include "tarnwickd/Log.h"

namespace Log {

void line(std::ostream& out, Priority priority, std::string_view text) {
    out << '<' << static_cast<int>(priority) << ">tarnwickd: " << text << '\n' << std::flush;
}

}  // namespace Log
