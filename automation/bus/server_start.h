#pragma once
// Starting the server program of a class: by the session bus from its service file, or by
// this client, detached, waiting until the program has claimed its bus name or has ended.
#include <QDBusConnection>
#include <QString>
#include <QStringList>

#include <string>

namespace automation::bus::client {

// A class served by another program, and how that program is started.
struct Registration {
    std::string progId;
    QString busName;
    QString program;
    QStringList arguments;
    QString registeredIn;    // the registration file that named program; empty for a default
    bool busStarted = false; // the session bus starts program when it has its service file
};

// Starts the server program and waits until it has claimed its name; its unique name, or
// empty, with why, when it does not get there in time.
QString Launch(const QDBusConnection& connection, const Registration& server, std::string* why);

} // namespace automation::bus::client
