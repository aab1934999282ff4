#pragma once
// The component's own control pictures: the in-app browser's back and forward
// buttons and the close button. They live in the program as Base64 PNG text
// (ZELIntrinsicImageData.h, drawn by make-button-images.py), so the component
// needs no files beside the library.

#include <memory>
#include <string>

#include "platform/Image.h"

class ZELIntrinsicImages {
public:
    // Each made on first use and kept for the life of the process: every call
    // gives the same image. The buttons are 27 x 27 points, the close button
    // 25 x 25, all at scale 2.
    static std::shared_ptr<platform::Image> browserBackButton();
    static std::shared_ptr<platform::Image> browserForwardButton();
    static std::shared_ptr<platform::Image> closeButton();

    // An image at scale 2 from Base64 text of a PNG file; nullptr when the text
    // is not Base64 or the bytes are not a PNG.
    static std::shared_ptr<platform::Image> createImageFromEncoding(const std::string& base64);
};
