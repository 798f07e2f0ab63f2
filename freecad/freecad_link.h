#pragma once
// Carries the documents of one CAD application into FreeCAD. The application's own document
// model decides what every call means (selection by name and by point, the axis of a
// cylindrical face, the template's planes and unit); after each call the link sends FreeCAD
// what that call added: a PartDesign Body per document, a Sketcher sketch per sketch, and a
// labelled feature per feature, named as the application names them. Nothing waits on
// FreeCAD until the client waits on a call, or FreeCAD's own word is asked for: then FreeCAD
// recomputes, once, the features sent since it last did, and the call hears what FreeCAD made
// of everything sent.
#include "cad/cad_server.h"
#include "freecad/freecad_process.h"

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace krepiks::freecad {

class FreeCadLink {
public:
    // Follows session from now on: installs its template loader and call follower.
    explicit FreeCadLink(std::shared_ptr<cad::CadSession> session);
    ~FreeCadLink();

    // Whether FreeCAD can be started at all here; why not, when it cannot.
    static bool Available(std::string* why);

    // The running FreeCAD, if any (for watching its end while idle).
    FreeCadProcess& process() { return process_; }

    // What FreeCAD holds for a document: its objects (name, type, label, valid) and the
    // body's volume in mm³ and validity, one per line; empty when it is not there.
    std::string describe(const cad::PartDocument& doc);
    // Saves a document as .FCStd (a copy) or STEP; why not, when it fails.
    bool save(const cad::PartDocument& doc, const std::string& path, std::string* error);

    // The application quit: FreeCAD is told to end as its own File → Quit would.
    void quit();

private:
    struct Mirror {
        std::string key;                     // the FreeCAD document's name
        int serial = 0;                      // documents in the order made
        bool changed = false;                // sent changes not recomputed yet
        bool unchecked = false;              // features among them, not checked yet
        size_t sketches = 0;                 // sketches carried over: ids "s1", "s2", …
        std::vector<std::vector<int>> lines; // geometry index per line; -1 for none
        std::vector<int> geometries;         // geometries made per sketch
        size_t axes = 0;                     // reference axes carried over: "a1", …
        size_t features = 0;                 // features carried over: "f1", …
        int zooms = 0;
    };

    automation::HRESULT follow(bool callerWaits, automation::EXCEPINFO* excepInfo);
    std::optional<cad::PartTemplate> loadTemplate(const std::string& path,
                                                  cad::TemplateError* error);
    bool ensureRunning(std::string* error);
    // Brings one document up to date; false with the reason when FreeCAD failed.
    bool sync(const cad::PartDocument& doc, Mirror& mirror, std::string& why);
    bool flushLines(const cad::PartDocument& doc, Mirror& mirror, std::string& why);
    bool feature(const cad::PartDocument& doc, const cad::FeatureRecord& record, Mirror& mirror,
                 std::string& why);
    // Sends an expression and waits for its value, until deadline at most; nothing with why
    // when it failed.
    std::optional<std::string> ask(const std::string& expression, std::string& why,
                                   FreeCadProcess::Clock::time_point deadline);
    std::optional<std::string> ask(const std::string& expression, std::string& why);
    std::optional<std::string> answered(const FreeCadProcess::Answer& answer, std::string& why);
    // The bound of the call under way: one call is one wait for the client, however many
    // requests it takes here.
    FreeCadProcess::Clock::time_point callDeadline();
    // Sends an expression whose value is not needed; its failure shows when the call settles.
    bool post(const std::string& expression, std::string& why);
    // Has FreeCAD recompute a document it was sent changes for, and check its new features.
    bool recompute(Mirror& mirror, std::string& why);
    // Has FreeCAD recompute the documents with features it has not checked (every changed
    // one with everyChange) and takes its answers to all that was sent: as a call does with
    // deadline (waiting once the bridge is up), else within FreeCAD's own bound for a request.
    FreeCadProcess::Answer flush(bool everyChange,
                                 std::optional<FreeCadProcess::Clock::time_point> deadline);

    std::weak_ptr<cad::CadSession> session_;
    FreeCadProcess process_;
    std::map<const cad::PartDocument*, Mirror> mirrors_;
    std::string pendingTemplate_; // a FreeCAD template read for the next document
    std::string templateFailure_; // why this call's template could not be read
    std::optional<FreeCadProcess::Clock::time_point> callDeadline_;
    // A failure FreeCAD reported while no call was being answered: the next call's.
    std::optional<FreeCadProcess::Answer> unreported_;
    int documentCounter_ = 0;
    bool failed_ = false;
};

} // namespace krepiks::freecad
