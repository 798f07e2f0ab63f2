#include "support/test_catalogue.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <stdexcept>

namespace krepiks::test {

namespace {

struct Db {
    sqlite3* handle = nullptr;
    explicit Db(const QString& path) {
        if (sqlite3_open(path.toUtf8().constData(), &handle) != SQLITE_OK)
            throw std::runtime_error("cannot open test catalogue");
    }
    ~Db() { sqlite3_close(handle); }
};

void run(const QString& path, const QString& sql) {
    Db db(path);
    char* error = nullptr;
    if (sqlite3_exec(db.handle, sql.toUtf8().constData(), nullptr, nullptr, &error) != SQLITE_OK) {
        const std::string message = error ? error : "sqlite error";
        sqlite3_free(error);
        throw std::runtime_error(message);
    }
}

QString sampleScript(const QString& templatePath) {
    QFile file(QStringLiteral(KREPIKS_SAMPLE_CATALOGUE));
    if (!file.open(QIODevice::ReadOnly))
        throw std::runtime_error("sample catalogue script missing");
    QString script = QString::fromUtf8(file.readAll());
    QString escaped = templatePath;
    escaped.replace(QLatin1Char('\''), QLatin1String("''"));
    script.replace(QStringLiteral("@TEMPLATE_PATH@"), escaped);
    return script;
}

} // namespace

void WriteSampleCatalogue(const QString& path, const QString& templatePath) {
    run(path, sampleScript(templatePath));
}

TestCatalogue::TestCatalogue(Contents contents, const QString& templatePath)
    : previous_(QDir::currentPath()) {
    if (!dir_.isValid())
        throw std::runtime_error("no temporary folder");
    if (contents == Contents::Sample) {
        WriteSampleCatalogue(file(), templatePath);
    } else if (contents == Contents::EmptyTables) {
        QString script = sampleScript(templatePath);
        script = script.left(script.indexOf(QStringLiteral("insert into")));
        run(file(), script);
    }
    QDir::setCurrent(dir_.path());
}

TestCatalogue::~TestCatalogue() {
    QDir::setCurrent(previous_);
}

QString TestCatalogue::file() const {
    return dir_.filePath(QStringLiteral("bolti.mdb"));
}

void TestCatalogue::exec(const QString& sql) const {
    run(file(), sql);
}

QString TestCatalogue::scalar(const QString& sql) const {
    Db db(file());
    sqlite3_stmt* statement = nullptr;
    QString result;
    if (sqlite3_prepare_v2(db.handle, sql.toUtf8().constData(), -1, &statement, nullptr) !=
        SQLITE_OK) {
        ADD_FAILURE() << "bad test query: " << sql.toStdString();
        return {};
    }
    if (sqlite3_step(statement) == SQLITE_ROW && sqlite3_column_type(statement, 0) != SQLITE_NULL)
        result =
            QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(statement, 0)));
    sqlite3_finalize(statement);
    return result;
}

int TestCatalogue::rowCount(const QString& table) const {
    return scalar(QStringLiteral("select count(*) from \"%1\"").arg(table)).toInt();
}

} // namespace krepiks::test
