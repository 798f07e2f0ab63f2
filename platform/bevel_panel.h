#pragma once
// A panel with the classic two-bevel frame: an outer and an inner bevel, each lowered,
// raised or a flat gap of the same width. Children are placed by the owner, usually within
// clientRect().
#include <QFrame>

namespace krepiks {

class BevelPanel : public QFrame {
    Q_OBJECT
public:
    enum class Bevel { None, Lowered, Raised, Space };

    BevelPanel(Bevel outer, Bevel inner, int width, QWidget* parent = nullptr);

    Bevel bevelOuter() const { return outer_; }
    Bevel bevelInner() const { return inner_; }
    int bevelWidth() const { return width_; }
    // The area inside both bevels.
    QRect clientRect() const;
    int borderWidth() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Bevel outer_;
    Bevel inner_;
    int width_;
};

} // namespace krepiks
