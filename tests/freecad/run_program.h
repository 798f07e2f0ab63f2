#pragma once
// What the FreeCAD program tests share: a program run as the user runs it (no display, so
// FreeCAD stays headless), and a private folder that goes with the test.
#include <QProcess>
#include <QProcessEnvironment>

#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

namespace freecadtest {

namespace fs = std::filesystem;

struct Ran {
    int code = -1;
    std::string out, err;
};

inline Ran RunProgram(const QString& program, const QStringList& args,
                      const std::vector<std::pair<QString, QString>>& env = {}) {
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("DISPLAY"));
    environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
    for (const auto& [name, value] : env)
        environment.insert(name, value);
    process.setProcessEnvironment(environment);
    process.start(program, args);
    Ran run;
    if (!process.waitForFinished(240000))
        return run;
    run.code = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = process.readAllStandardOutput().toStdString();
    run.err = process.readAllStandardError().toStdString();
    return run;
}

class Folder {
public:
    Folder() {
        path_ = fs::temp_directory_path() /
                ("krepiks-freecad-" + std::to_string(getpid()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(path_);
        fs::create_directories(path_);
    }
    ~Folder() { fs::remove_all(path_); }
    std::string operator/(const std::string& name) const { return (path_ / name).string(); }
    QString q(const std::string& name) const { return QString::fromStdString(*this / name); }

private:
    fs::path path_;
};

} // namespace freecadtest
