#pragma once
// Images made from PNG bytes. An image keeps its encoded bytes; its size is in
// points (pixels divided by the scale), and a redrawn image keeps the source
// bytes with the new size for the toolkit to draw them at.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/Geometry.h"

namespace platform {

class Image {
public:
    // nullptr unless the bytes start with a well-formed PNG header.
    static std::shared_ptr<Image> fromPNG(std::string_view bytes, double scale = 1.0);
    // Loaded from a file (a bundled resource); nullptr when unreadable or not a PNG.
    static std::shared_ptr<Image> fromFile(const std::string& path, double scale = 1.0);
    // A picture resolved by the toolkit from its icon theme (for instance
    // "view-refresh-symbolic"), drawn at the given size.
    static std::shared_ptr<Image> symbolic(std::string name, Size size);

    Size size() const { return size_; }  // points
    double scale() const { return scale_; }
    uint32_t pixelWidth() const { return pixelWidth_; }  // of the encoded bitmap
    uint32_t pixelHeight() const { return pixelHeight_; }
    const std::string& pngData() const { return png_; }  // empty for symbolic images
    const std::string& symbolName() const { return symbol_; }

    // A new image of the given size in points at scale 1 (the picture scaled to fit).
    std::shared_ptr<Image> redrawn(Size size) const;
    // The same bitmap seen at another scale (size in points changes accordingly).
    std::shared_ptr<Image> withScale(double scale) const;

private:
    Image() = default;
    std::string png_;
    std::string symbol_;
    uint32_t pixelWidth_ = 0, pixelHeight_ = 0;
    double scale_ = 1.0;
    Size size_;
};

}  // namespace platform
