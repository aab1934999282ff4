#include "platform/Image.h"

#include <cmath>
#include <fstream>
#include <sstream>

namespace platform {
namespace {
uint32_t readBigEndian32(std::string_view b, size_t at) {
    return (uint32_t(uint8_t(b[at])) << 24) | (uint32_t(uint8_t(b[at + 1])) << 16) |
           (uint32_t(uint8_t(b[at + 2])) << 8) | uint32_t(uint8_t(b[at + 3]));
}
// Largest side we accept; bigger headers are treated as corrupt.
constexpr uint32_t kMaxSide = 1u << 15;
}  // namespace

std::shared_ptr<Image> Image::fromPNG(std::string_view bytes, double scale) {
    static constexpr char kSignature[] = "\x89PNG\r\n\x1a\n";
    if (bytes.size() < 33 || bytes.substr(0, 8) != std::string_view(kSignature, 8)) return nullptr;
    if (readBigEndian32(bytes, 8) != 13 || bytes.substr(12, 4) != "IHDR") return nullptr;
    uint32_t w = readBigEndian32(bytes, 16), h = readBigEndian32(bytes, 20);
    if (w == 0 || h == 0 || w > kMaxSide || h > kMaxSide) return nullptr;
    if (!(scale > 0) || !std::isfinite(scale)) scale = 1.0;
    auto image = std::shared_ptr<Image>(new Image());
    image->png_.assign(bytes);
    image->pixelWidth_ = w;
    image->pixelHeight_ = h;
    image->scale_ = scale;
    image->size_ = {w / scale, h / scale};
    return image;
}

std::shared_ptr<Image> Image::fromFile(const std::string& path, double scale) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return nullptr;
    std::ostringstream data;
    data << in.rdbuf();
    return fromPNG(data.str(), scale);
}

std::shared_ptr<Image> Image::symbolic(std::string name, Size size) {
    auto image = std::shared_ptr<Image>(new Image());
    image->symbol_ = std::move(name);
    image->size_ = size;
    image->pixelWidth_ = static_cast<uint32_t>(std::lround(std::max(0.0, size.width)));
    image->pixelHeight_ = static_cast<uint32_t>(std::lround(std::max(0.0, size.height)));
    return image;
}

std::shared_ptr<Image> Image::redrawn(Size size) const {
    auto image = std::shared_ptr<Image>(new Image(*this));
    // A bitmap of whole pixels at scale 1, as an image context would give.
    image->pixelWidth_ = static_cast<uint32_t>(std::lround(std::max(0.0, size.width)));
    image->pixelHeight_ = static_cast<uint32_t>(std::lround(std::max(0.0, size.height)));
    image->scale_ = 1.0;
    image->size_ = {double(image->pixelWidth_), double(image->pixelHeight_)};
    return image;
}

std::shared_ptr<Image> Image::withScale(double scale) const {
    if (!(scale > 0) || !std::isfinite(scale)) scale = 1.0;
    auto image = std::shared_ptr<Image>(new Image(*this));
    image->size_ = {size_.width * scale_ / scale, size_.height * scale_ / scale};
    image->scale_ = scale;
    return image;
}

}  // namespace platform
