#include "cad/cad_window.h"

#include "cad/part_view.h"
#include "platform/ui_effects.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QMenuBar>
#include <QPointer>
#include <QSplitter>
#include <QStatusBar>
#include <QTreeWidget>

namespace krepiks::cad {
namespace {

const QString Caption = QStringLiteral("Крепикс CAD");

QString UnitName(const std::string& unit) {
    if (unit == "cm")
        return QStringLiteral("см");
    if (unit == "m")
        return QStringLiteral("м");
    if (unit == "in")
        return QStringLiteral("дюйм");
    return QStringLiteral("мм");
}

class WindowView : public SessionView {
public:
    explicit WindowView(CadSession& session) : window_(new CadWindow(session.shared_from_this())) {
        window_->show();
        window_->raise();
    }
    ~WindowView() override {
        if (!window_)
            return;
        window_->releaseSession();
        // Without an application object the widget can no longer be deleted safely.
        if (QCoreApplication::instance()) {
            window_->hide();
            window_->deleteLater();
        }
    }
    void sessionChanged() override {
        if (window_)
            window_->scheduleRefresh();
    }

private:
    QPointer<CadWindow> window_;
};

} // namespace

CadWindow::CadWindow(std::shared_ptr<CadSession> session) : session_(std::move(session)) {
    setObjectName(QStringLiteral("CadWindow"));
    setWindowTitle(Caption);
    // Closing this window ends the CAD application, never the program that drives it.
    setAttribute(Qt::WA_QuitOnClose, false);
    resize(960, 640);

    tree_ = new QTreeWidget;
    tree_->setObjectName(QStringLiteral("DocumentTree"));
    tree_->setHeaderHidden(true);
    tree_->setMinimumWidth(200);
    connect(tree_, &QTreeWidget::itemClicked, this,
            [this](QTreeWidgetItem* item) { itemChosen(item); });
    view_ = new PartView;
    auto* split = new QSplitter;
    split->addWidget(tree_);
    split->addWidget(view_);
    split->setStretchFactor(1, 1);
    setCentralWidget(split);
    status_ = new QLabel;
    statusBar()->addWidget(status_);

    QMenu* file = menuBar()->addMenu(QStringLiteral("&Файл"));
    saveStep_ =
        file->addAction(QStringLiteral("Сохранить как &STEP…"), this, [this] { save(true); });
    saveStep_->setObjectName(QStringLiteral("SaveStepAction"));
    saveStep_->setShortcut(QKeySequence::Save);
    saveStl_ =
        file->addAction(QStringLiteral("Сохранить как ST&L…"), this, [this] { save(false); });
    saveStl_->setObjectName(QStringLiteral("SaveStlAction"));
    file->addSeparator();
    QAction* close = file->addAction(QStringLiteral("&Закрыть"), this, [this] { this->close(); });
    close->setObjectName(QStringLiteral("CloseAction"));
    QMenu* viewMenu = menuBar()->addMenu(QStringLiteral("&Вид"));
    QAction* fit = viewMenu->addAction(QStringLiteral("&Вписать в окно"), this, [this] {
        if (session_ && session_->activeDocument())
            session_->activeDocument()->zoomToFit();
        view_->refresh();
    });
    fit->setObjectName(QStringLiteral("ZoomToFitAction"));
    view_->addStandardViews(viewMenu);

    choosePath = [this](const QString& caption, const QString& filter, const QString& proposed) {
        return QFileDialog::getSaveFileName(this, caption, proposed, filter);
    };
    refreshTimer_.setSingleShot(true);
    refreshTimer_.setInterval(0);
    connect(&refreshTimer_, &QTimer::timeout, this, &CadWindow::refreshNow);
    refreshNow();
}

CadWindow::~CadWindow() = default;

void CadWindow::scheduleRefresh() {
    if (!refreshTimer_.isActive())
        refreshTimer_.start();
}

void CadWindow::releaseSession() {
    refreshTimer_.stop();
    session_.reset();
}

void CadWindow::refreshNow() {
    if (!session_)
        return;
    const auto active = session_->activeDocument();
    setWindowTitle(active ? QString::fromUtf8(active->title()) + QStringLiteral(" — ") + Caption
                          : Caption);
    tree_->clear();
    const auto& docs = session_->documents();
    for (std::size_t i = 0; i < docs.size(); ++i) {
        const PartDocument& doc = *docs[i];
        auto* item = new QTreeWidgetItem(tree_, {QString::fromUtf8(doc.title())});
        item->setData(0, Qt::UserRole, static_cast<int>(i));
        if (docs[i] == active) {
            QFont bold = item->font(0);
            bold.setBold(true);
            item->setFont(0, bold);
        }
        for (const TemplatePlane& plane : doc.partTemplate().planes)
            new QTreeWidgetItem(item, {QString::fromUtf8(plane.name)});
        for (const FeatureRecord& feature : doc.features())
            new QTreeWidgetItem(item, {QString::fromUtf8(feature.name)});
        item->setExpanded(docs[i] == active);
    }
    view_->setDocument(active);
    view_->refresh();
    if (!active)
        status_->setText(QString());
    else if (active->body().IsNull())
        status_->setText(QStringLiteral("Тела нет"));
    else
        // Concatenated: "%2³" would read as placeholder 23, ³ being a digit to QString::arg.
        status_->setText(QStringLiteral("Объём: ") + QLocale().toString(active->volume(), 'f', 3) +
                         QLatin1Char(' ') + UnitName(active->partTemplate().unit) +
                         QStringLiteral("³"));
}

void CadWindow::itemChosen(QTreeWidgetItem* item) {
    while (item && item->parent())
        item = item->parent();
    if (item && session_)
        session_->setActiveIndex(item->data(0, Qt::UserRole).toInt());
}

void CadWindow::save(bool step) {
    const auto doc = session_ ? session_->activeDocument() : nullptr;
    if (!doc || doc->body().IsNull()) {
        showMessage(Caption, QStringLiteral("В детали нет тела, сохранять нечего."),
                    BoxIcon::Warning);
        return;
    }
    const QString title = QString::fromUtf8(doc->title());
    const QString path =
        step ? choosePath(QStringLiteral("Сохранить как STEP"),
                          QStringLiteral("STEP (*.step *.stp)"), title + QStringLiteral(".step"))
             : choosePath(QStringLiteral("Сохранить как STL"), QStringLiteral("STL (*.stl)"),
                          title + QStringLiteral(".stl"));
    if (path.isEmpty())
        return;
    const std::string file = QFile::encodeName(path).toStdString();
    const bool saved = step ? doc->saveStep(file) : doc->saveStl(file);
    if (!saved) {
        showMessage(Caption, QStringLiteral("Не удалось сохранить файл «%1».").arg(path),
                    BoxIcon::Error);
        return;
    }
    statusBar()->showMessage(QStringLiteral("Сохранено: %1").arg(path), 5000);
}

void CadWindow::closeEvent(QCloseEvent* event) {
    // The session deletes this window later, once it has ended.
    if (const auto session = session_)
        session->quit();
    event->accept();
}

void InstallCadWindows() {
    SetSessionViewFactory([](CadSession& session) -> std::unique_ptr<SessionView> {
        if (!qobject_cast<QApplication*>(QCoreApplication::instance()))
            return nullptr;
        return std::make_unique<WindowView>(session);
    });
}

} // namespace krepiks::cad
