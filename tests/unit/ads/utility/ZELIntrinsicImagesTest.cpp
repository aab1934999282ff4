#include <zlib.h>

#include "ThirdParty/ZEL_HRBStringEncoding.h"
#include "Utility/ZELIntrinsicImages.h"
#include "unit/support/SimTest.h"

namespace {

using Pixel = std::array<uint8_t, 4>;

uint32_t bigEndian32(const std::string& b, size_t at) {
    return uint32_t(uint8_t(b[at])) << 24 | uint32_t(uint8_t(b[at + 1])) << 16 | uint32_t(uint8_t(b[at + 2])) << 8 |
           uint32_t(uint8_t(b[at + 3]));
}

// The RGBA pixels of one of our PNG files: 8-bit RGBA, not interlaced, every
// row unfiltered, as make-button-images.py writes them. Empty otherwise.
std::vector<Pixel> pixelsOf(const platform::Image& image) {
    const std::string& png = image.pngData();
    if (png[24] != 8 || png[25] != 6 || png[28] != 0) return {};
    std::string compressed;
    for (size_t at = 8; at + 12 <= png.size();) {
        const uint32_t length = bigEndian32(png, at);
        if (png.compare(at + 4, 4, "IDAT") == 0) compressed += png.substr(at + 8, length);
        at += 12 + length;
    }
    const size_t stride = 1 + 4 * size_t(image.pixelWidth());
    std::string raw(stride * image.pixelHeight(), '\0');
    uLongf rawLength = raw.size();
    if (uncompress(reinterpret_cast<Bytef*>(raw.data()), &rawLength,
                   reinterpret_cast<const Bytef*>(compressed.data()), compressed.size()) != Z_OK ||
        rawLength != raw.size())
        return {};
    std::vector<Pixel> pixels;
    for (size_t row = 0; row < image.pixelHeight(); ++row) {
        if (raw[row * stride] != 0) return {};
        for (size_t x = 0; x < image.pixelWidth(); ++x) {
            const auto* p = reinterpret_cast<const uint8_t*>(raw.data() + row * stride + 1 + 4 * x);
            pixels.push_back({p[0], p[1], p[2], p[3]});
        }
    }
    return pixels;
}

constexpr Pixel kClear{0, 0, 0, 0}, kWhite{255, 255, 255, 255}, kBlack{0, 0, 0, 255};

}  // namespace

class ZELIntrinsicImagesTest : public SimTest {};

TEST_F(ZELIntrinsicImagesTest, ImagesAreMadeOnceAtScaleTwo) {
    struct Expected {
        std::shared_ptr<platform::Image> (*make)();
        uint32_t pixels;
    };
    for (const auto& [make, pixels] : {Expected{&ZELIntrinsicImages::browserBackButton, 54},
                                       Expected{&ZELIntrinsicImages::browserForwardButton, 54},
                                       Expected{&ZELIntrinsicImages::closeButton, 50}}) {
        const auto image = make();
        ASSERT_NE(image, nullptr);
        EXPECT_EQ(make(), image);
        EXPECT_EQ(image->pixelWidth(), pixels);
        EXPECT_EQ(image->pixelHeight(), pixels);
        EXPECT_EQ(image->scale(), 2.0);
        EXPECT_EQ(image->size().width, pixels / 2.0);
        EXPECT_EQ(image->size().height, pixels / 2.0);
    }
    EXPECT_NE(ZELIntrinsicImages::browserBackButton(), ZELIntrinsicImages::browserForwardButton());
}

TEST_F(ZELIntrinsicImagesTest, PicturesShowTheirShapes) {
    const auto back = pixelsOf(*ZELIntrinsicImages::browserBackButton());
    const auto forward = pixelsOf(*ZELIntrinsicImages::browserForwardButton());
    const auto close = pixelsOf(*ZELIntrinsicImages::closeButton());
    ASSERT_EQ(back.size(), 54u * 54);
    ASSERT_EQ(forward.size(), 54u * 54);
    ASSERT_EQ(close.size(), 50u * 50);
    const auto at = [](const std::vector<Pixel>& pixels, size_t side, size_t x, size_t y) { return pixels[y * side + x]; };
    // Back: the tip at the left, the wide end at the right, empty above and below.
    EXPECT_EQ(at(back, 54, 17, 26), kWhite);
    EXPECT_EQ(at(back, 54, 41, 10), kWhite);
    EXPECT_EQ(at(back, 54, 41, 40), kWhite);
    EXPECT_EQ(at(back, 54, 17, 12), kClear);
    EXPECT_EQ(at(back, 54, 46, 26), kClear);
    EXPECT_EQ(at(back, 54, 0, 0), kClear);
    // Forward is its mirror image, pixel for pixel.
    for (size_t y = 0; y < 54; ++y)
        for (size_t x = 0; x < 54; ++x) ASSERT_EQ(at(forward, 54, x, y), at(back, 54, 53 - x, y)) << x << "," << y;
    // Close: white ring, black disc, white X in the middle, corners empty.
    EXPECT_EQ(at(close, 50, 25, 3), kWhite);
    EXPECT_EQ(at(close, 50, 25, 10), kBlack);
    EXPECT_EQ(at(close, 50, 25, 25), kWhite);
    EXPECT_EQ(at(close, 50, 19, 19), kWhite);
    EXPECT_EQ(at(close, 50, 0, 0), kClear);
    EXPECT_EQ(at(close, 50, 49, 0), kClear);
}

TEST_F(ZELIntrinsicImagesTest, BadTextGivesNoImage) {
    const auto base64 = ZEL_HRBStringEncoding::rfc4648Base64StringEncoding();
    const std::string png = ZELIntrinsicImages::closeButton()->pngData();
    const auto copy = ZELIntrinsicImages::createImageFromEncoding(base64->encode(png));
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->size().width, 25.0);
    for (const std::string& text : {std::string(), std::string("not base64!"), std::string("iVBORw0K\xff"),
                                    base64->encode("GIF89a, not a PNG at all"), base64->encode(png.substr(0, 20))})
        EXPECT_EQ(ZELIntrinsicImages::createImageFromEncoding(text), nullptr) << text;
}
