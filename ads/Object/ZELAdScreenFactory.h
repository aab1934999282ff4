#pragma once
// The screens an ad opens: the in-app browser and the web-app screen, made
// for the opener of the banner's page and of every web-app page.

#include "Opener/ZELScreenFactory.h"

class ZELAdScreenFactory final : public ZELScreenFactory {
public:
    // Stateless and never destroyed: openers hold it by pointer.
    static const ZELAdScreenFactory& shared();

    std::shared_ptr<ZELViewController> browser(const platform::URL& url, const std::optional<platform::URL>& referrer,
                                               const ZELScreenSettings& settings) const override;
    std::shared_ptr<ZELViewController> webApp(const platform::URL& url,
                                              const ZELScreenSettings& settings) const override;
    std::shared_ptr<ZELViewController> webAppWithHTML(const std::string& html,
                                                      const ZELScreenSettings& settings) const override;
};
