// The built-in button pictures: decoded once, at the scale they were drawn
// for. (What they show is make-button-images.py's.)
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
        EXPECT_EQ(std::pair(image->pixelWidth(), image->pixelHeight()), std::pair(pixels, pixels));
        EXPECT_EQ(image->size().width, pixels / 2.0);
    }
    EXPECT_NE(ZELIntrinsicImages::browserBackButton(), ZELIntrinsicImages::browserForwardButton());
}
