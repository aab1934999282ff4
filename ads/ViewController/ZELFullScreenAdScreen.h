#pragma once
// What a full-screen ad screen offers to the pages it shows: a "close" message
// from the page takes the screen away.

class ZELFullScreenAdScreen {
public:
    virtual ~ZELFullScreenAdScreen() = default;
    virtual void relinquishScreen() = 0;
};
