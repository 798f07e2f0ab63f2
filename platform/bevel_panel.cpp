#include "platform/bevel_panel.h"

#include <QPainter>
#include <qdrawutil.h>

namespace krepiks {

BevelPanel::BevelPanel(Bevel outer, Bevel inner, int width, QWidget* parent)
    : QFrame(parent), outer_(outer), inner_(inner), width_(width) {
    setFrameShape(QFrame::NoFrame);
    setAutoFillBackground(true);
}

int BevelPanel::borderWidth() const {
    return (outer_ == Bevel::None ? 0 : width_) + (inner_ == Bevel::None ? 0 : width_);
}

QRect BevelPanel::clientRect() const {
    const int b = borderWidth();
    return rect().adjusted(b, b, -b, -b);
}

void BevelPanel::paintEvent(QPaintEvent* event) {
    QFrame::paintEvent(event);
    QPainter painter(this);
    QRect r = rect();
    for (const Bevel bevel : {outer_, inner_}) {
        if (bevel == Bevel::None)
            continue;
        if (bevel != Bevel::Space)
            qDrawShadePanel(&painter, r, palette(), bevel == Bevel::Lowered, width_);
        r.adjust(width_, width_, -width_, -width_);
    }
}

} // namespace krepiks
