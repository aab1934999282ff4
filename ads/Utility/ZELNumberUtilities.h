#pragma once
// Numbers to and from the short texts of the wire.

#include <string>

class ZELNumberUtilities {
public:
    // Short decimal text: "%f", then trailing zeros dropped, and the point too
    // when nothing follows it (2.0 -> "2", 1.5 -> "1.5", 0.25 -> "0.25").
    static std::string stringWithFloat(float value);
    // A number in header text, read the way a number text is read: blanks,
    // then a plain decimal number ("12.5", " 7s" gives 7); 0 when there is
    // none ("soon", "inf", "0x10").
    static double floatValueOfText(const std::string& text);
};
