#pragma once
// The window of one CAD application: its documents with their planes and features, the
// active part in a shaded 3D view, and saving the part as STEP or STL. Closing the window
// ends the application, as quitting a CAD program does.
#include "cad/cad_server.h"

#include <QMainWindow>
#include <QTimer>
#include <chrono>
#include <functional>
#include <memory>

class QAction;
class QLabel;
class QTreeWidget;
class QTreeWidgetItem;

namespace krepiks::cad {

class PartView;

class CadWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit CadWindow(std::shared_ptr<CadSession> session);
    ~CadWindow() override;

    // Asks where to save; an empty answer cancels. The default is a file dialog.
    std::function<QString(const QString& caption, const QString& filter, const QString& proposed)>
        choosePath;

    // The session changed; the window catches up once the changes pause (at most a few
    // times a second while they go on), so a build of hundreds of calls is drawn once.
    void scheduleRefresh();
    // The changes have ended (the clients are done): what waits is shown at once.
    void refreshSoon();
    void refreshNow();
    // Whether a change waits to be shown; whether the view has been painted since the last
    // change, and the signal when it has.
    bool refreshPending() const { return refreshTimer_.isActive() || refreshQueued_; }
    bool showsLatest() const { return showsLatest_; }

signals:
    void shown();

public:
    // The application has ended: let go of it.
    void releaseSession();

    QTreeWidget* documentTree() const { return tree_; }
    PartView* partView() const { return view_; }
    QAction* saveStepAction() const { return saveStep_; }
    QAction* saveStlAction() const { return saveStl_; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void save(bool step);
    void itemChosen(QTreeWidgetItem* item);

    std::shared_ptr<CadSession> session_;
    QTreeWidget* tree_;
    PartView* view_;
    QLabel* status_;
    QAction* saveStep_;
    QAction* saveStl_;
    QTimer refreshTimer_;
    bool refreshQueued_ = false;
    // The template failure the person has moved on from by choosing a document.
    int dismissedFailure_ = 0;
    std::chrono::steady_clock::time_point firstUnshown_, lastRefresh_;
    bool showsLatest_ = false;
};

// Gives every application made from now on a CadWindow while it is visible, when a
// QApplication runs; without one applications stay windowless.
void InstallCadWindows();

} // namespace krepiks::cad
