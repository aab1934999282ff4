#pragma once
// What a full-screen ad screen offers to the pages it shows (a "close" message
// from the page takes the screen away), and the two process-wide
// notifications a screen posts when it starts and stops covering the
// application (the banners pause their reload meanwhile).

inline constexpr const char ZELViewControllerWillPresentFullScreen[] = "ZELViewControllerWillPresentFullScreen";
inline constexpr const char ZELViewControllerDidRelinquishFullScreen[] = "ZELViewControllerDidRelinquishFullScreen";

class ZELFullScreenAdScreen {
public:
    virtual ~ZELFullScreenAdScreen() = default;
    virtual void relinquishScreen() = 0;
};
