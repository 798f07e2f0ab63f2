#pragma once
// The CAD stand-in's automation server: the application, model document, sketch manager,
// document extension, feature manager, model view and selection manager objects that a
// "SldWorks.Application" client drives by name. Plain C++; a window layer may attach a
// view to each application through SetSessionViewFactory.
#include "automation/automation.h"
#include "cad/part_document.h"

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace krepiks::cad {

inline constexpr char16_t CadProgId[] = u"SldWorks.Application";

class CadSession;

// What a window showing an application is told; everything runs on the server's thread.
class SessionView {
public:
    virtual ~SessionView() = default;
    // Documents, the active document, a document's geometry or the view changed.
    virtual void sessionChanged() = 0;
    // The clients hold nothing of this application but the application itself: what they
    // were doing has ended, and what it changed can be shown without waiting for more.
    virtual void clientsDone() {}
};

using SessionViewFactory = std::function<std::unique_ptr<SessionView>(CadSession& session)>;

// Installs the factory that makes a view for an application when it becomes visible.
// Without one (or with nullptr) applications have no window.
void SetSessionViewFactory(SessionViewFactory factory);

// The state behind one application object: its documents and whether it still runs.
class CadSession : public std::enable_shared_from_this<CadSession> {
public:
    explicit CadSession(bool allowView = true);
    ~CadSession();

    bool alive() const { return alive_; }
    bool visible() const { return visible_; }
    void setVisible(bool visible);

    // Opens a new document from the template at path; nothing when the template is unusable
    // (error then says why). The new document becomes the active one.
    std::shared_ptr<PartDocument> newDocument(const std::string& templatePath,
                                              std::string* error = nullptr);
    // Why the last new document could not be opened; none once one has opened since. Each
    // failure has a serial number of its own, so a window can tell a new one.
    struct TemplateFailure {
        std::string path;
        TemplateError error;
        int serial = 0;
    };
    const std::optional<TemplateFailure>& templateFailure() const { return templateFailure_; }
    // How long the last newDocument took to read its template.
    std::chrono::nanoseconds lastTemplateLoad() const { return lastTemplateLoad_; }
    const std::vector<std::shared_ptr<PartDocument>>& documents() const { return documents_; }
    std::shared_ptr<PartDocument> activeDocument() const;
    int activeIndex() const { return active_; }
    void setActiveIndex(int index);

    // Ends the application: its window goes, its documents close and every object of it
    // answers from now on as a server that has gone away.
    void quit();

    // The automation object for this session's application (made on first request).
    automation::DispatchPtr applicationObject();

    // The view attached while visible, if any.
    SessionView* view() const { return view_.get(); }

    // For a program that carries this application's documents into another CAD program.
    // The loader reads each template in place of LoadPartTemplate. The follower runs after
    // every call on an object of this application that succeeded, told whether the caller
    // takes the call's outcome now (automation::CallerWaits) or goes on from it; an error it
    // returns (with excepInfo filled in for DISP_E_EXCEPTION) becomes the call's.
    using TemplateLoader =
        std::function<std::optional<PartTemplate>(const std::string& path, TemplateError* error)>;
    using CallFollower =
        std::function<automation::HRESULT(bool callerWaits, automation::EXCEPINFO* excepInfo)>;
    void setTemplateLoader(TemplateLoader loader) { templateLoader_ = std::move(loader); }
    void setCallFollower(CallFollower follower) { callFollower_ = std::move(follower); }

private:
    void changed();
    void updateView();

    bool allowView_;
    bool alive_ = true;
    bool visible_ = false;
    bool updatingView_ = false;
    std::vector<std::shared_ptr<PartDocument>> documents_;
    int active_ = -1;
    int documentCounter_ = 0;
    std::optional<TemplateFailure> templateFailure_;
    int templateFailures_ = 0;
    std::chrono::nanoseconds lastTemplateLoad_{0};
    std::unique_ptr<SessionView> view_;
    TemplateLoader templateLoader_;
    CallFollower callFollower_;
    automation::IDispatch* application_ = nullptr; // not owned; cleared when it goes
    friend class ApplicationObject;
    friend class SessionObject;
};

// A new application with a session of its own. allowView false keeps it windowless even
// when a view factory is installed (replays).
automation::DispatchPtr CreateCadApplication(bool allowView = true,
                                             std::shared_ptr<CadSession>* session = nullptr);

// Registers CadProgId for in-process and local-server creation. Like a single-instance
// application, creation hands out the running application while one runs, and a new one
// once it has quit. The running one is also in the running-object table.
void RegisterCadServer();
void UnregisterCadServer();

// Called with each application creation makes (not the running one handed out again), and
// with each one a replay makes, before any call reaches it.
void SetSessionStartHook(std::function<void(const std::shared_ptr<CadSession>&)> hook);

// The application that creation would hand out now, if one runs.
std::shared_ptr<CadSession> RunningCadSession();

} // namespace krepiks::cad
