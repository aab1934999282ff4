#pragma once
// A run of read-only text.

#include <string>

#include "platform/View.h"

namespace platform {

enum class TextAlignment : int { Left = 0, Center = 1, Right = 2 };

class Label : public View {
public:
    explicit Label(const Rect& frame = Rect());

    const std::string& text() const { return text_; }
    void setText(std::string text);
    double fontSize() const { return fontSize_; }
    void setFontSize(double points);
    bool isBold() const { return bold_; }
    void setBold(bool bold);
    Color textColor() const { return textColor_; }
    void setTextColor(const Color& color);
    TextAlignment textAlignment() const { return alignment_; }
    void setTextAlignment(TextAlignment alignment);
    int numberOfLines() const { return lines_; }  // 0: as many as needed (wrapped)
    void setNumberOfLines(int lines);

private:
    void changed();
    std::string text_;
    double fontSize_ = 17;
    bool bold_ = false;
    Color textColor_ = Color::black();
    TextAlignment alignment_ = TextAlignment::Left;
    int lines_ = 1;
};

}  // namespace platform
