#pragma once

// The SMC keys of simulated fans, for the profiles tests write as JSON text.

#include <string>

namespace support {

// The key entries of fans 0 to `fans` - 1, comma-separated: flt speed (`actual`), range
// 1200..6000 and target, ui8 mode; target and mode writable. Empty for no fans.
inline std::string fanKeysJson(int fans, double actual) {
    std::string json;
    for (int i = 0; i < fans; ++i) {
        const std::string f = "F" + std::to_string(i);
        if (i > 0) json += ", ";
        json += R"({"key": ")" + f + R"(Ac", "type": "flt ", "value": )" + std::to_string(actual) +
                R"(}, {"key": ")" + f + R"(Mn", "type": "flt ", "value": 1200}, {"key": ")" + f +
                R"(Mx", "type": "flt ", "value": 6000}, {"key": ")" + f +
                R"(Tg", "type": "flt ", "value": 0, "writable": true}, {"key": ")" + f +
                R"(Md", "type": "ui8 ", "value": 0, "writable": true})";
    }
    return json;
}

}  // namespace support
