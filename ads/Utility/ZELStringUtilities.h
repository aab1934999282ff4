#pragma once
// Text as pages and servers send it: UTF-8 of any length and shape.

#include <string>

class ZELStringUtilities {
public:
    // The text without white space and line ends at either end: ASCII ones
    // and the common Unicode ones (no-break space, the general punctuation
    // spaces, line and paragraph separators, the ideographic space). A
    // character is never cut in two.
    static std::string trimWhiteSpaceAndNewlines(const std::string& text);
};
