#pragma once

#include <string>

class ZELNumberUtilities {
public:
    // Short decimal text: "%f", then trailing zeros dropped, and the point too
    // when nothing follows it (2.0 -> "2", 1.5 -> "1.5", 0.25 -> "0.25").
    static std::string stringWithFloat(float value);
};
