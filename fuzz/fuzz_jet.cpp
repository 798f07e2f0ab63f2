// The Jet 4.0 reader as krepiks-catalogue uses it. libmdb never runs in this process: an odd
// first byte makes the rest edits (offset, xor) and a cut of a sound Jet file of the test
// writer, read by krepiks-jet-reader in its bounded child process; an even one feeds the rest
// to our parser of the reader's stream. A fault is a crash, a sanitizer report, a hang past
// the bound, or a result that is neither a whole reading nor a reason.
#include "catalogue/jet_reader.h"
#include "support/jet_writer.h"

#include <QFile>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace {

const QByteArray& soundFile() {
    using namespace krepiks::test;
    static const QByteArray file = [] {
        JetFixtureTable sizes =
            JetVariantTable({{QStringLiteral("М6"), 0.30000000000000004, 1e300, QVariant(), 4.0,
                              5.0, 6.0, 7.0, 8.0, 9.0, 10.0, 11.0, 12.0, 13.0, 14.0}});
        JetFixtureTable office{
            QStringLiteral("Поставщики"),
            {{QStringLiteral("Код"), 4, 0, true},
             {QStringLiteral("Цена"), 5},
             {QStringLiteral("С"), 8},
             {QStringLiteral("Заметки"), 12},
             {QStringLiteral("Да"), 1}},
            {{qlonglong(1), qlonglong(12345), -1.25, QStringLiteral("м"), true}}};
        return WriteJet4({sizes, JetTemplateTable(QStringLiteral("x")), office});
    }();
    return file;
}

QString scratchFile() {
    static const QString path = [] {
        char name[] = "/tmp/fuzz_jet-XXXXXX";
        const int fd = mkstemp(name);
        if (fd >= 0)
            close(fd);
        static char kept[sizeof name];
        std::memcpy(kept, name, sizeof name);
        std::atexit([] { unlink(kept); });
        return QString::fromLocal8Bit(name);
    }();
    return path;
}

void check(const krepiks::JetReadResult& result) {
    if (result.ok == !result.error.isEmpty())
        std::abort();
    for (const krepiks::JetTable& table : result.tables)
        for (const auto& row : table.rows)
            if (row.size() != table.columns.size())
                std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    const QByteArray rest(reinterpret_cast<const char*>(data + 1),
                          static_cast<qsizetype>(size - 1));
    if ((data[0] & 1) == 0) {
        check(krepiks::ParseJetStream(QByteArrayLiteral("KJET1\n") + rest));
        return 0;
    }
    QByteArray file = soundFile();
    qsizetype i = 0;
    for (; i + 3 <= rest.size(); i += 3) {
        const qsizetype at =
            (static_cast<uint8_t>(rest[i]) | static_cast<uint8_t>(rest[i + 1]) << 8) % file.size();
        file[at] = static_cast<char>(file[at] ^ rest[i + 2]);
    }
    if (i < rest.size()) // a last odd byte cuts the file
        file.truncate(file.size() * static_cast<uint8_t>(rest[i]) / 256);
    {
        QFile out(scratchFile());
        if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return 0;
        out.write(file);
    }
    check(krepiks::ReadJetFile(scratchFile(), QStringLiteral(KREPIKS_JET_READER), 2000));
    return 0;
}
