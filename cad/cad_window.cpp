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
#include <QStyle>
#include <QTreeWidget>
#include <algorithm>

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

QString TemplateFailureText(const CadSession::TemplateFailure& failure) {
    const TemplateError& error = failure.error;
    QString why;
    switch (error.fault) {
    case TemplateFault::NoPath:
        return QStringLiteral("Шаблон детали не открыт: путь к нему не задан");
    case TemplateFault::Missing:
        why = QStringLiteral("файл не найден");
        break;
    case TemplateFault::Folder:
        why = QStringLiteral("это папка, а не файл");
        break;
    case TemplateFault::NotAFile:
        why = QStringLiteral("это не обычный файл");
        break;
    case TemplateFault::TooLarge:
        why = QStringLiteral("файл больше %1 МБ, шаблон не бывает таким большим")
                  .arg(MaxTemplateBytes >> 20);
        break;
    case TemplateFault::Unreadable:
        why = QStringLiteral("файл не удаётся прочитать");
        break;
    case TemplateFault::NotATemplate:
        why = error.line > 0
                  ? QStringLiteral("это не шаблон детали (ошибка в строке %1)").arg(error.line)
                  : QStringLiteral("это не шаблон детали");
        break;
    }
    return QStringLiteral("Шаблон детали «") + QString::fromStdString(failure.path) +
           QStringLiteral("» не открыт: ") + why;
}

// A part without a body lacks it because its first solid feature could not be made.
const FeatureFailure* BodyFailure(const PartDocument& doc) {
    for (const FeatureFailure& failure : doc.failures())
        if (failure.kind != FeatureKind::Axis && failure.kind != FeatureKind::Sketch)
            return &failure;
    return nullptr;
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
    void clientsDone() override {
        if (window_)
            window_->refreshSoon();
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
    refreshTimer_.setTimerType(Qt::PreciseTimer);
    connect(&refreshTimer_, &QTimer::timeout, this, &CadWindow::refreshNow);
    connect(view_, &PartView::painted, this, [this] {
        if (refreshPending())
            return;
        showsLatest_ = true;
        emit shown();
    });
    refreshNow();
}

CadWindow::~CadWindow() = default;

void CadWindow::scheduleRefresh() {
    // A build is hundreds of calls a fraction of a millisecond apart: drawing each one would
    // make the window the slowest part of the build. It catches up once the calls pause,
    // and while they keep coming once a second (never sooner than RefreshSpacing after the
    // last), so a build of a second or less is drawn once, at its end.
    using namespace std::chrono_literals;
    constexpr auto Quiet = 20ms, Longest = 1000ms, RefreshSpacing = 200ms;
    const auto now = std::chrono::steady_clock::now();
    if (!refreshTimer_.isActive())
        firstUnshown_ = now;
    showsLatest_ = false;
    const auto due =
        std::max(std::min(now + Quiet, firstUnshown_ + Longest), lastRefresh_ + RefreshSpacing);
    refreshTimer_.start(std::chrono::ceil<std::chrono::milliseconds>(std::max(due - now, 0ns)));
    if (session_)
        view_->prepare(session_->activeDocument());
}

void CadWindow::refreshSoon() {
    if (!refreshTimer_.isActive())
        return;
    refreshTimer_.stop();
    refreshQueued_ = true;
    // From the event loop: the answer to the call that brought this leaves first.
    QMetaObject::invokeMethod(this, &CadWindow::refreshNow, Qt::QueuedConnection);
}

void CadWindow::releaseSession() {
    refreshTimer_.stop();
    session_.reset();
}

void CadWindow::refreshNow() {
    refreshTimer_.stop();
    refreshQueued_ = false;
    if (!session_)
        return;
    lastRefresh_ = std::chrono::steady_clock::now();
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
        // A feature that could not be made stands where it was asked for, marked as CAD
        // programs mark rebuild errors, with the reason beside it.
        const auto& failures = doc.failures();
        auto failure = failures.begin();
        for (std::size_t made = 0; made <= doc.features().size(); ++made) {
            for (; failure != failures.end() && failure->position == made; ++failure) {
                const QString why = QString::fromUtf8(failure->reason);
                auto* marked = new QTreeWidgetItem(
                    item, {QString::fromUtf8(failure->name) + QStringLiteral(" — ошибка: ") + why});
                marked->setIcon(0, style()->standardIcon(QStyle::SP_MessageBoxCritical));
                marked->setForeground(0, QColor(0xB0, 0x00, 0x00));
                marked->setToolTip(0, QStringLiteral("Не удалось построить: ") + why);
            }
            if (made < doc.features().size())
                new QTreeWidgetItem(item, {QString::fromUtf8(doc.features()[made].name)});
        }
        item->setExpanded(docs[i] == active);
    }
    view_->setDocument(active);
    view_->refresh();
    const auto& templateFailure = session_->templateFailure();
    if (templateFailure && templateFailure->serial != dismissedFailure_)
        status_->setText(TemplateFailureText(*templateFailure));
    else if (!active)
        status_->setText(QString());
    else if (active->body().IsNull()) {
        const FeatureFailure* cause = BodyFailure(*active);
        status_->setText(cause ? QStringLiteral("Тела нет: не удалось построить «") +
                                     QString::fromUtf8(cause->name) + QStringLiteral("» — ") +
                                     QString::fromUtf8(cause->reason)
                               : QStringLiteral("Тела нет"));
    } else
        // Concatenated: "%2³" would read as placeholder 23, ³ being a digit to QString::arg.
        status_->setText(QStringLiteral("Объём: ") + QLocale().toString(active->volume(), 'f', 3) +
                         QLatin1Char(' ') + UnitName(active->partTemplate().unit) +
                         QStringLiteral("³"));
}

void CadWindow::itemChosen(QTreeWidgetItem* item) {
    while (item && item->parent())
        item = item->parent();
    if (!item || !session_)
        return;
    // Choosing a document is moving on from a template that could not be opened.
    if (const auto& failure = session_->templateFailure())
        dismissedFailure_ = failure->serial;
    session_->setActiveIndex(item->data(0, Qt::UserRole).toInt());
    refreshNow();
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
