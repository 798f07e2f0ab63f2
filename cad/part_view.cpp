#include "cad/part_view.h"

#include "cad/part_scene.h"

#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <Standard_Failure.hxx>
#include <cmath>
#include <qguiapplication_platform.h>
// Last: its macros would break the headers above.
#include <X11/Xlib.h>

namespace krepiks::cad {
namespace {

struct StandardView {
    const char* label;
    const char* name;
    V3d_TypeOfOrientation orientation;
};

const StandardView StandardViews[] = {
    {"&Спереди", "FrontViewAction", V3d_Zpos},
    {"С&верху", "TopViewAction", V3d_Ypos},
    {"С&права", "RightViewAction", V3d_Xpos},
    {"&Изометрия", "IsometricViewAction", V3d_XposYposZpos},
};

// Qt and OpenCASCADE speak to the X server over connections of their own: what Qt asked of
// the native window, its size above all, must have reached the server before OpenCASCADE
// reads it back.
void SyncWithServer() {
    if (auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>())
        if (Display* display = x11->display())
            XSync(display, False);
}

} // namespace

// The native window OpenCASCADE draws on; Qt paints nothing there.
class PartView::Viewport : public QWidget {
public:
    explicit Viewport(PartView* owner) : QWidget(owner), owner_(owner) {
        setObjectName(QStringLiteral("PartViewport"));
        setAttribute(Qt::WA_PaintOnScreen);
        setAttribute(Qt::WA_NativeWindow);
        // The rest of the window stays one native window, as Qt draws it best.
        setAttribute(Qt::WA_DontCreateNativeAncestors);
        setAttribute(Qt::WA_NoSystemBackground);
        setAttribute(Qt::WA_OpaquePaintEvent);
        setFocusPolicy(Qt::StrongFocus);
    }

    // Null until the viewport is first painted, and when no OpenGL context could be made.
    PartScene* scene() const { return scene_.get(); }

    QPaintEngine* paintEngine() const override { return nullptr; }

protected:
    // Made at the first paint, not at show: only then has Qt given the native window its
    // place and size, which the view reads once to fit the part.
    void paintEvent(QPaintEvent*) override {
        if (ensureScene()) {
            scene_->redraw();
            emit owner_->painted();
        }
    }
    void resizeEvent(QResizeEvent*) override {
        if (!scene_)
            return;
        SyncWithServer();
        scene_->resized();
    }
    void mousePressEvent(QMouseEvent* event) override {
        const Qt::MouseButton button = event->button();
        if (!scene_ || drag_ != Qt::NoButton ||
            (button != Qt::LeftButton && button != Qt::MiddleButton && button != Qt::RightButton))
            return;
        drag_ = button;
        last_ = pixel(event->position());
        if (drag_ == Qt::LeftButton)
            scene_->startOrbit(last_.x(), last_.y());
    }
    void mouseMoveEvent(QMouseEvent* event) override {
        if (!scene_ || drag_ == Qt::NoButton)
            return;
        const QPoint now = pixel(event->position());
        if (drag_ == Qt::LeftButton)
            scene_->orbit(now.x(), now.y());
        else
            scene_->pan(now.x() - last_.x(), now.y() - last_.y());
        last_ = now;
    }
    void mouseReleaseEvent(QMouseEvent* event) override {
        if (event->button() != drag_)
            return;
        drag_ = Qt::NoButton;
        // The orbit becomes the document's orientation, so a script's next turn starts there.
        if (scene_ && event->button() == Qt::LeftButton && owner_->doc_)
            owner_->doc_->setViewRotation(scene_->endOrbit());
    }
    void wheelEvent(QWheelEvent* event) override {
        if (scene_)
            scene_->zoom(std::pow(1.15, event->angleDelta().y() / 120.0));
        event->accept();
    }

private:
    QPoint pixel(QPointF p) const { return (p * devicePixelRatioF()).toPoint(); }

    bool ensureScene() {
        if (scene_)
            return true;
        if (failed_)
            return false;
        try {
            SyncWithServer();
            scene_ = std::make_unique<PartScene>(static_cast<Aspect_Drawable>(winId()));
            scene_->follow(owner_->doc_);
            return true;
        } catch (const Standard_Failure&) {
            failed_ = true;
            // Not from inside this widget's own event: the owner deletes it.
            QMetaObject::invokeMethod(
                owner_, [owner = owner_] { owner->showUnavailable(); }, Qt::QueuedConnection);
            return false;
        }
    }

    PartView* owner_;
    std::unique_ptr<PartScene> scene_;
    bool failed_ = false;
    Qt::MouseButton drag_ = Qt::NoButton;
    QPoint last_;
};

PartView::PartView(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("PartView"));
    setMinimumSize(160, 120);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    // OpenCASCADE draws on X11 windows only; elsewhere there is nothing to try.
    if (QGuiApplication::platformName() == QLatin1String("xcb") && OpenGlAvailable()) {
        viewport_ = new Viewport(this);
        layout->addWidget(viewport_);
    } else {
        showUnavailable();
    }
}

PartView::~PartView() = default;

void PartView::showUnavailable() {
    if (unavailable_)
        return;
    delete viewport_;
    viewport_ = nullptr;
    unavailable_ = new QLabel(QStringLiteral("Трёхмерный вид недоступен: нет OpenGL"), this);
    unavailable_->setObjectName(QStringLiteral("PartViewUnavailable"));
    unavailable_->setAlignment(Qt::AlignCenter);
    unavailable_->setWordWrap(true);
    layout()->addWidget(unavailable_);
}

void PartView::setDocument(std::shared_ptr<PartDocument> doc) {
    if (doc == doc_)
        return;
    doc_ = std::move(doc);
    refresh();
}

PartScene* PartView::scene() const {
    return viewport_ ? viewport_->scene() : nullptr;
}

void PartView::refresh() {
    if (viewport_ && viewport_->scene()) {
        viewport_->scene()->follow(doc_);
        emit painted();
    } else if (unavailable_) {
        emit painted();
    }
}

void PartView::prepare(const std::shared_ptr<PartDocument>& doc) {
    if (PartScene* shown = scene())
        shown->prepare(doc);
}

void PartView::addStandardViews(QMenu* menu) {
    for (const StandardView& standard : StandardViews) {
        QAction* action =
            menu->addAction(QString::fromUtf8(standard.label), this, [this, &standard] {
                if (!doc_)
                    return;
                doc_->setViewRotation(StandardRotation(standard.orientation));
                if (PartScene* shown = scene()) {
                    shown->follow(doc_);
                    shown->fitAll();
                    shown->redraw();
                }
            });
        action->setObjectName(QString::fromUtf8(standard.name));
    }
}

} // namespace krepiks::cad
