#include "Utility/ZELIntrinsicImages.h"

#include "ThirdParty/ZEL_HRBStringEncoding.h"
#include "Utility/ZELIntrinsicImageData.h"

namespace {

// The pictures are drawn at twice their size in points.
constexpr double kImageScale = 2.0;

// Never destroyed, so a caller running during the process's exit still gets
// a live image.
const std::shared_ptr<platform::Image>& keptForever(const char* base64) {
    return *new std::shared_ptr<platform::Image>(ZELIntrinsicImages::createImageFromEncoding(base64));
}

}  // namespace

std::shared_ptr<platform::Image> ZELIntrinsicImages::browserBackButton() {
    static const auto& image = keptForever(kZELBrowserBackButtonPNG);
    return image;
}

std::shared_ptr<platform::Image> ZELIntrinsicImages::browserForwardButton() {
    static const auto& image = keptForever(kZELBrowserForwardButtonPNG);
    return image;
}

std::shared_ptr<platform::Image> ZELIntrinsicImages::closeButton() {
    static const auto& image = keptForever(kZELCloseButtonPNG);
    return image;
}

std::shared_ptr<platform::Image> ZELIntrinsicImages::createImageFromEncoding(const std::string& base64) {
    const auto bytes = ZEL_HRBStringEncoding::rfc4648Base64StringEncoding()->decode(base64);
    if (!bytes) return nullptr;
    return platform::Image::fromPNG(*bytes, kImageScale);
}
