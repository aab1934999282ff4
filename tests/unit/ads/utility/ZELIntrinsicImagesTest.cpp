// The built-in button pictures: decoded once, at the scale they were drawn
// for, and no image from text that is not a whole PNG. (What they show is
// make-button-images.py's.)
#include "ThirdParty/ZEL_HRBStringEncoding.h"
#include "Utility/ZELIntrinsicImages.h"
#include "unit/support/SimTest.h"

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
