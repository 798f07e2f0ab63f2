#pragma once
// What krepiks-freecad reports FreeCAD holds for the running application's active document,
// asked over the test's private bus.
#include "automation/bus/protocol.h"
#include "model/solidworks.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QString>

#include <cstdio>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace freecadtest {

struct FreeCadObject {
    std::string name, type, label;
    bool valid = false;
};

struct FreeCadPart {
    long pid = 0;                               // FreeCAD's process
    bool gui = false;                           // shown in FreeCAD's window
    std::map<std::string, std::string> normals; // of each sketch's plane, by label
    std::vector<FreeCadObject> objects;
    int recomputes = -1; // of the document, since it was made
    double volume = 0;
    bool valid = false;
};

// What krepiks-freecad reports FreeCAD holds for its active document.
inline std::optional<FreeCadPart> Describe() {
    QDBusMessage call = QDBusMessage::createMethodCall(
        automation::bus::BusNameForProgId(krepiks::SolidWorksProgId),
        QStringLiteral("/org/krepiks/FreeCad"), QStringLiteral("org.krepiks.FreeCad"),
        QStringLiteral("Describe"));
    const QDBusMessage reply = QDBusConnection::sessionBus().call(call, QDBus::Block, 30000);
    if (reply.type() != QDBusMessage::ReplyMessage) {
        std::fprintf(stderr, "Describe: %s\n", reply.errorMessage().toLocal8Bit().constData());
        return std::nullopt;
    }
    FreeCadPart part;
    std::istringstream lines(reply.arguments().value(0).toString().toStdString());
    std::string word;
    lines >> word >> part.pid;
    lines.ignore();
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("gui\t", 0) == 0) {
            part.gui = line == "gui\t1";
            continue;
        }
        std::vector<std::string> f;
        std::istringstream cells(line);
        for (std::string cell; std::getline(cells, cell, '\t');)
            f.push_back(cell);
        if (f.size() == 2 && f[0] == "recomputes") {
            part.recomputes = std::stoi(f[1]);
        } else if (f.size() == 3 && f[0] == "normal") {
            part.normals[f[1]] = f[2];
        } else if (f.size() == 3 && f[0] == "volume") {
            part.volume = std::stod(f[1]);
            part.valid = f[2] == "1";
        } else if (f.size() == 4) {
            part.objects.push_back({f[0], f[1], f[2], f[3] == "1"});
        }
    }
    return part;
}

} // namespace freecadtest
