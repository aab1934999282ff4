#pragma once
// Tabs at the bottom of the screen, one controller's view above them.

#include <functional>
#include <memory>
#include <vector>

#include "platform/Button.h"
#include "platform/ViewController.h"

namespace platform {

class TabBar : public View {
public:
    explicit TabBar(const Rect& frame = Rect());
    static constexpr double kHeight = 49;
    const std::vector<std::shared_ptr<Button>>& buttons() const { return buttons_; }

private:
    friend class TabBarController;
    void setItems(const std::vector<TabBarItem>& items, std::function<void(size_t)> onSelect);
    void setSelected(size_t index);
    void didChangeSize() override;
    void layout();
    std::vector<std::shared_ptr<Button>> buttons_;
};

class TabBarController : public ViewController {
public:
    TabBarController();
    ~TabBarController() override;

    const std::vector<std::shared_ptr<ViewController>>& viewControllers() const { return controllers_; }
    void setViewControllers(std::vector<std::shared_ptr<ViewController>> controllers);
    size_t selectedIndex() const { return selected_; }
    // Out-of-range indexes are ignored.
    void setSelectedIndex(size_t index);
    std::shared_ptr<ViewController> selectedViewController() const;
    std::shared_ptr<TabBar> tabBar() const { return tabBar_; }

    void loadView() override;
    // Turns only when every tab's controller accepts the orientation.
    bool shouldAutorotateToInterfaceOrientation(InterfaceOrientation orientation) override;
    // Next and previous tab (round the ends), the focus on the tab chosen.
    bool canPerformKeyCommand(KeyCommand command) const override;
    void performKeyCommand(KeyCommand command) override;

protected:
    std::vector<std::shared_ptr<ViewController>> appearanceChildren() const override;
    std::vector<std::shared_ptr<ViewController>> childControllers() const override { return controllers_; }

private:
    void showSelected();
    std::vector<std::shared_ptr<ViewController>> controllers_;
    size_t selected_ = 0;
    std::shared_ptr<TabBar> tabBar_;
    std::shared_ptr<View> content_;
};

}  // namespace platform
