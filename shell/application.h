#pragma once
#include "shell/error_report.h"

#include <QApplication>
#include <exception>

namespace krepiks {

// Every exception that escapes an event handler ends that action and is reported here;
// the program then goes on.
class KrepiksApplication : public QApplication {
public:
    KrepiksApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};

// The box for an error while the windows are created; the program then ends with 1.
void ShowStartupFailure(const std::exception& error);

// Creates Form1, Form4, Form5, Form2 in that order, hidden. Throws on failure.
void CreateForms();
// Destroys the windows and releases what the modules hold.
void DestroyForms();

// The whole entry sequence; returns the exit code.
int RunKrepiks(int argc, char** argv);

// The part of the entry sequence after the application object exists: create the windows,
// show the splash, run the loop, tear down. Returns the exit code.
int ExecKrepiks(QApplication& app);

} // namespace krepiks
