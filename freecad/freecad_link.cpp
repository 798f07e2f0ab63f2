#include "freecad/freecad_link.h"

#include "automation/automation.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <sstream>

namespace krepiks::freecad {

using automation::HRESULT;

namespace {

constexpr double Pi = 3.14159265358979323846;

std::string Vector(double x, double y, double z) {
    return "(" + PyNumber(x) + ", " + PyNumber(y) + ", " + PyNumber(z) + ")";
}

std::string Vector(const gp_XYZ& v, double scale = 1) {
    return Vector(v.X() * scale, v.Y() * scale, v.Z() * scale);
}

bool EndsWithFcstd(const std::string& path) {
    if (path.size() < 6)
        return false;
    std::string tail = path.substr(path.size() - 6);
    std::transform(tail.begin(), tail.end(), tail.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return tail == ".fcstd";
}

bool HasDisplay() {
    const char* x = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return (x && *x) || (wayland && *wayland);
}

// FreeCAD's angles are degrees and stop at a full turn; the build sends 2π rounded up.
double Degrees(double radians) {
    return std::min(radians * 180 / Pi, 360.0);
}

std::string Bool(bool value) {
    return value ? "True" : "False";
}

HRESULT Raise(automation::EXCEPINFO* excepInfo, const std::string& description) {
    if (excepInfo) {
        *excepInfo = automation::EXCEPINFO{};
        excepInfo->bstrDescription = automation::fromUtf8(description);
        excepInfo->bstrSource = u"FreeCAD";
        excepInfo->scode = automation::E_FAIL;
    }
    return automation::DISP_E_EXCEPTION;
}

} // namespace

FreeCadLink::FreeCadLink(std::shared_ptr<cad::CadSession> session) : session_(session) {
    session->setTemplateLoader([this](const std::string& path, cad::TemplateError* error) {
        return loadTemplate(path, error);
    });
    session->setCallFollower([this](bool callerWaits, automation::EXCEPINFO* excepInfo) {
        return follow(callerWaits, excepInfo);
    });
}

FreeCadLink::~FreeCadLink() {
    if (auto session = session_.lock()) {
        session->setTemplateLoader(nullptr);
        session->setCallFollower(nullptr);
    }
}

bool FreeCadLink::Available(std::string* why) {
    if (!FindFreeCadCmd().empty())
        return true;
    if (why)
        *why = std::string("FreeCAD (freecadcmd) is not installed; install the package ") +
               FreeCadPackage;
    return false;
}

bool FreeCadLink::ensureRunning(std::string* error) {
    if (process_.running())
        return true;
    auto session = session_.lock();
    // The window only where one can be shown; a build without a display still gets its part.
    const bool gui = session && session->visible() && HasDisplay() && !FindFreeCadGui().empty();
    mirrors_.clear();
    return process_.start(gui, error);
}

bool FreeCadLink::post(const std::string& expression, std::string& why) {
    if (process_.send(expression, &why))
        return true;
    failed_ = true;
    return false;
}

bool FreeCadLink::recompute(Mirror& mirror, std::string& why) {
    mirror.changed = mirror.unchecked = false;
    return post("recompute(" + PyText(mirror.key) + ")", why);
}

FreeCadProcess::Answer
FreeCadLink::flush(bool everyChange, std::optional<FreeCadProcess::Clock::time_point> deadline) {
    std::vector<Mirror*> changed;
    for (auto& [doc, mirror] : mirrors_)
        if (everyChange ? mirror.changed : mirror.unchecked)
            changed.push_back(&mirror);
    // In the order the documents were made, so that the first failure is the earliest.
    std::sort(changed.begin(), changed.end(),
              [](const Mirror* a, const Mirror* b) { return a->serial < b->serial; });
    FreeCadProcess::Answer answer;
    answer.channel = true;
    for (Mirror* mirror : changed)
        if (!recompute(*mirror, answer.text))
            return answer;
    answer = deadline ? process_.settle(process_.ready(), *deadline) : process_.settle(true);
    failed_ = failed_ || (!answer.ok && answer.channel);
    return answer;
}

FreeCadProcess::Clock::time_point FreeCadLink::callDeadline() {
    if (!callDeadline_)
        callDeadline_ = FreeCadProcess::Clock::now() + RequestTimeout;
    return *callDeadline_;
}

std::optional<std::string> FreeCadLink::ask(const std::string& expression, std::string& why) {
    return answered(process_.request(expression), why);
}

std::optional<std::string> FreeCadLink::ask(const std::string& expression, std::string& why,
                                            FreeCadProcess::Clock::time_point deadline) {
    return answered(process_.request(expression, deadline), why);
}

std::optional<std::string> FreeCadLink::answered(const FreeCadProcess::Answer& answer,
                                                 std::string& why) {
    if (answer.ok)
        return answer.text;
    failed_ = failed_ || answer.channel;
    why = answer.text;
    return std::nullopt;
}

std::optional<cad::PartTemplate> FreeCadLink::loadTemplate(const std::string& path,
                                                           cad::TemplateError* error) {
    pendingTemplate_.clear();
    templateFailure_.clear();
    const auto fail = [&](cad::TemplateFault fault, std::string message) {
        // Nobody here shows the person why: the call that asked for the document says it.
        templateFailure_ = message;
        if (error)
            *error = cad::TemplateError{fault, 0, std::move(message)};
        return std::nullopt;
    };
    if (!EndsWithFcstd(path)) {
        cad::TemplateError why;
        auto loaded = cad::LoadPartTemplate(path, &why);
        if (!loaded) {
            templateFailure_ = why.message;
            if (error)
                *error = std::move(why);
        }
        return loaded;
    }
    const auto deadline = callDeadline();
    std::string why;
    if (!ensureRunning(&why))
        return fail(cad::TemplateFault::Unreadable, why);
    std::optional<std::string> planes;
    if (process_.ready()) {
        // The answers to what was sent before are not the template's: a failure among them
        // is the build's, for this call to report.
        FreeCadProcess::Answer before = process_.settle(true, deadline);
        if (!before.ok) {
            failed_ = failed_ || before.channel;
            const std::string earlier = before.text;
            if (!unreported_)
                unreported_ = std::move(before);
            return fail(cad::TemplateFault::Unreadable, "'" + path + "': " + earlier);
        }
        planes = ask("template_planes(" + PyText(path) + ")", why, deadline);
    } else {
        // FreeCAD's window may take longer to come up than a call may last; a headless
        // FreeCAD of its own reads the template meanwhile.
        FreeCadProcess reader;
        FreeCadProcess::Answer answer;
        if (reader.start(false, &why))
            answer = reader.request("template_planes(" + PyText(path) + ")", deadline);
        else
            answer.text = why;
        if (answer.ok)
            planes = answer.text;
        why = answer.text;
    }
    if (!planes)
        return fail(cad::TemplateFault::Unreadable, "'" + path + "': " + why);
    // The named planes of the FreeCAD document, in millimetres as FreeCAD keeps every part.
    cad::PartTemplate partTemplate;
    std::istringstream lines(*planes);
    for (std::string line; std::getline(lines, line);) {
        const size_t bar = line.find('|');
        if (bar == std::string::npos)
            continue;
        cad::TemplatePlane plane;
        plane.name = line.substr(0, bar);
        std::string numbers = line.substr(bar + 1);
        std::replace(numbers.begin(), numbers.end(), '|', ' ');
        std::istringstream in(numbers);
        in >> plane.origin.x >> plane.origin.y >> plane.origin.z >> plane.normal.x >>
            plane.normal.y >> plane.normal.z >> plane.xDir.x >> plane.xDir.y >> plane.xDir.z;
        if (in)
            partTemplate.planes.push_back(plane);
    }
    if (partTemplate.planes.empty())
        return fail(cad::TemplateFault::NotATemplate, "'" + path + "' has no planes to sketch on");
    pendingTemplate_ = path;
    return partTemplate;
}

HRESULT FreeCadLink::follow(bool callerWaits, automation::EXCEPINFO* excepInfo) {
    const auto deadline = callDeadline();
    callDeadline_.reset();
    auto session = session_.lock();
    if (!session)
        return automation::S_OK;
    if (!session->alive()) {
        quit();
        return automation::S_OK;
    }
    std::string why;
    bool ok = true;
    for (const auto& doc : session->documents()) {
        auto found = mirrors_.find(doc.get());
        if (found == mirrors_.end()) {
            if (!ensureRunning(&why)) {
                ok = false;
                failed_ = true;
                break;
            }
            Mirror mirror;
            mirror.serial = ++documentCounter_;
            mirror.key = "Part" + std::to_string(mirror.serial);
            mirror.changed = true;
            const std::string templatePath = std::exchange(pendingTemplate_, {});
            if (!post("new_document(" + PyText(mirror.key) + ", " + PyText(doc->title()) + ", " +
                          PyText(templatePath) + ")",
                      why)) {
                ok = false;
                break;
            }
            found = mirrors_.emplace(doc.get(), std::move(mirror)).first;
        }
        if (!sync(*doc, found->second, why)) {
            ok = false;
            break;
        }
    }
    if (ok && process_.running()) {
        // A call the client goes on from takes only the answers already there. One it waits
        // on hears what FreeCAD made of all that was sent, with the features made since the
        // last recompute recomputed, once, and checked: only FreeCAD can say whether it could
        // make them. That is as soon as FreeCAD is up; until then the requests wait in the
        // pipe and the build goes on.
        const FreeCadProcess::Answer answer =
            callerWaits ? flush(false, deadline) : process_.settle(false, deadline);
        ok = answer.ok;
        failed_ = failed_ || answer.channel;
        why = answer.text;
    }
    // What FreeCAD said while no call was being answered came first.
    if (unreported_) {
        ok = false;
        failed_ = failed_ || unreported_->channel;
        why = std::exchange(unreported_, std::nullopt)->text;
    }
    if (ok && !templateFailure_.empty())
        return Raise(excepInfo, "FreeCAD не смог открыть шаблон детали: " +
                                    std::exchange(templateFailure_, {}));
    templateFailure_.clear();
    if (ok)
        return automation::S_OK;
    if (failed_) {
        // FreeCAD is gone or stuck: this application ends with it, so that the next build
        // starts afresh instead of reaching a FreeCAD that no longer answers.
        process_.release();
        session->quit();
        return Raise(excepInfo, "FreeCAD завершился или не отвечает: " + why);
    }
    return Raise(excepInfo, "FreeCAD не смог выполнить построение: " + why);
}

bool FreeCadLink::flushLines(const cad::PartDocument& doc, Mirror& mirror, std::string& why) {
    const double mm = 1000.0 / doc.unitsPerMetre();
    for (size_t s = 0; s < mirror.sketches; ++s) {
        const cad::Sketch& sketch = doc.sketches()[s];
        std::vector<int>& lines = mirror.lines[s];
        while (lines.size() < sketch.lines.size()) {
            const cad::SketchLine& line = sketch.lines[lines.size()];
            // Sketcher has no zero-length line; the stand-in keeps one only to number the rest.
            if (line.start.Distance(line.end) * mm <= 1e-9) {
                lines.push_back(-1);
                continue;
            }
            if (!post("line(" + PyText(mirror.key) + ", \"s" + std::to_string(s + 1) + "\", " +
                          PyNumber(line.start.X() * mm) + ", " + PyNumber(line.start.Y() * mm) +
                          ", " + PyNumber(line.end.X() * mm) + ", " + PyNumber(line.end.Y() * mm) +
                          ")",
                      why))
                return false;
            mirror.changed = true;
            lines.push_back(mirror.geometries[s]++);
        }
    }
    return true;
}

bool FreeCadLink::sync(const cad::PartDocument& doc, Mirror& mirror, std::string& why) {
    const double mm = 1000.0 / doc.unitsPerMetre();
    const auto& features = doc.features();
    for (; mirror.features < features.size(); ++mirror.features) {
        const cad::FeatureRecord& record = features[mirror.features];
        if (record.kind == cad::FeatureKind::Sketch) {
            const cad::Sketch& sketch = doc.sketches()[mirror.sketches];
            const gp_Ax3& f = sketch.frame;
            if (!post("sketch(" + PyText(mirror.key) + ", \"s" +
                          std::to_string(mirror.sketches + 1) + "\", " + PyText(sketch.name) +
                          ", " + Vector(f.Location().XYZ(), mm) + ", " +
                          Vector(f.XDirection().XYZ()) + ", " + Vector(f.Direction().XYZ()) + ")",
                      why))
                return false;
            mirror.changed = true;
            ++mirror.sketches;
            mirror.lines.emplace_back();
            mirror.geometries.push_back(0);
            continue;
        }
        mirror.changed = true;
        if (!flushLines(doc, mirror, why) || !feature(doc, record, mirror, why))
            return false;
    }
    if (!flushLines(doc, mirror, why))
        return false;
    if (doc.view().zoomsToFit != mirror.zooms) {
        mirror.zooms = doc.view().zoomsToFit;
        // The view fits what FreeCAD has made of everything sent before.
        if (process_.gui() && ((mirror.changed && !recompute(mirror, why)) ||
                               !post("zoom_to_fit(" + PyText(mirror.key) + ")", why)))
            return false;
    }
    return true;
}

bool FreeCadLink::feature(const cad::PartDocument& doc, const cad::FeatureRecord& record,
                          Mirror& mirror, std::string& why) {
    const double mm = 1000.0 / doc.unitsPerMetre();
    const cad::FeatureInputs& in = record.inputs;
    const std::string key = PyText(mirror.key);
    if (record.kind == cad::FeatureKind::Axis) {
        const cad::ReferenceAxis& axis = doc.axes()[mirror.axes];
        ++mirror.axes;
        return post("datum_line(" + key + ", \"a" + std::to_string(mirror.axes) + "\", " +
                        PyText(axis.name) + ", " + Vector(axis.axis.Location().XYZ(), mm) + ", " +
                        Vector(axis.axis.Direction().XYZ()) + ")",
                    why);
    }
    if (in.profile < 0 || in.profile >= static_cast<int>(mirror.sketches)) {
        why = "no sketch for " + record.name;
        return false;
    }
    mirror.unchecked = true;
    const std::string ident = "\"f" + std::to_string(mirror.features + 1) + "\"";
    const std::string profile = "\"s" + std::to_string(in.profile + 1) + "\"";
    if (record.kind == cad::FeatureKind::Extrusion) {
        const cad::ExtrusionParams& p = in.extrusion;
        const bool midplane = p.endCondition == 6;
        const double length2 = !midplane && !p.singleDirection ? p.depth2 * 1000 : 0;
        return post("pad(" + key + ", " + ident + ", " + PyText(record.name) + ", " + profile +
                        ", " + PyNumber(p.depth * 1000) + ", " + PyNumber(length2) + ", " +
                        Bool(p.reverse) + ", " + Bool(midplane) + ")",
                    why);
    }
    if (!in.axis) {
        why = "no axis for " + record.name;
        return false;
    }
    std::string axis;
    if (in.axis->kind == cad::EntityKind::Axis) {
        axis = "(\"a" + std::to_string(in.axis->index + 1) + "\", \"\")";
    } else {
        const int geometry = mirror.lines.at(in.axis->index).at(in.axis->segment);
        if (geometry < 0) {
            why = "the axis of " + record.name + " is a line of no length";
            return false;
        }
        axis = "(\"s" + std::to_string(in.axis->index + 1) + "\", " +
               PyText("Edge" + std::to_string(geometry + 1)) + ")";
    }
    const cad::RevolveParams& p = in.revolve;
    const double sweep = p.angle + (p.type == 2 ? p.angle2 : 0);
    const char* type =
        record.kind == cad::FeatureKind::Revolve ? "PartDesign::Revolution" : "PartDesign::Groove";
    return post(std::string("revolution(") + key + ", " + ident + ", " + PyText(type) + ", " +
                    PyText(record.name) + ", " + profile + ", " + axis + ", " +
                    PyNumber(Degrees(sweep)) + ", " + Bool(p.reverse) + ", " + Bool(p.type == 1) +
                    ")",
                why);
}

std::string FreeCadLink::describe(const cad::PartDocument& doc) {
    const auto found = mirrors_.find(&doc);
    if (found == mirrors_.end() || !process_.running())
        return {};
    // What FreeCAD says of the calls is for the client's next call to hear, not for this.
    FreeCadProcess::Answer settled = flush(true, std::nullopt);
    if (!settled.ok && !unreported_)
        unreported_ = std::move(settled);
    if (!process_.running())
        return {};
    std::string why;
    return ask("describe(" + PyText(found->second.key) + ")", why).value_or(std::string());
}

bool FreeCadLink::save(const cad::PartDocument& doc, const std::string& path, std::string* error) {
    const auto found = mirrors_.find(&doc);
    std::string why = "the part is not in FreeCAD";
    if (found != mirrors_.end() && process_.running()) {
        const FreeCadProcess::Answer settled =
            unreported_ ? *std::exchange(unreported_, std::nullopt) : flush(true, std::nullopt);
        if (!settled.ok)
            why = settled.text;
        else if (ask("save(" + PyText(found->second.key) + ", " + PyText(path) + ")", why))
            return true;
    }
    if (error)
        *error = why;
    return false;
}

void FreeCadLink::quit() {
    if (process_.running() && process_.gui()) {
        // The window stays the user's: it keeps the parts recomputed, and closes those as
        // built.
        flush(true, std::nullopt);
        std::string why;
        if (process_.running())
            ask("quit_application()", why);
    }
    process_.release();
    mirrors_.clear();
}

} // namespace krepiks::freecad
