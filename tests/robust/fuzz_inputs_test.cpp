// The fuzzers' seed corpora and what they once found, run through the same checks in the
// normal build, so a fault found by fuzzing stays fixed without clang.
#include "fuzz/dimension_check.h"
#include "fuzz/trace_check.h"

#include <QDir>
#include <QFile>
#include <cstring>
#include <functional>
#include <gtest/gtest.h>

namespace {

using Check = std::function<std::string(const uint8_t*, std::size_t)>;

// Runs check on every file of fuzz/<kind>/<target>; returns how many there were.
int RunInputs(const char* target, const Check& check) {
    int count = 0;
    for (const char* kind : {"corpus", "regressions"}) {
        const QDir folder(QStringLiteral(KREPIKS_FUZZ_DIR "/%1/%2").arg(kind, target));
        for (const QString& name : folder.entryList(QDir::Files)) {
            QFile file(folder.filePath(name));
            EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << name.toStdString();
            const QByteArray bytes = file.readAll();
            const std::string failure =
                check(reinterpret_cast<const uint8_t*>(bytes.constData()), bytes.size());
            EXPECT_EQ(failure, "") << kind << "/" << target << "/" << name.toStdString();
            ++count;
        }
    }
    return count;
}

std::string Dimension(const char* selectorAndText) {
    return krepiks::fuzz::CheckDimensionInput(reinterpret_cast<const uint8_t*>(selectorAndText),
                                              std::strlen(selectorAndText));
}

} // namespace

TEST(FuzzInputs, TheDimensionReaderAgreesWithItsOracle) {
    EXPECT_GE(RunInputs("dimension", krepiks::fuzz::CheckDimensionInput), 10);
    // Edges of the shape beside the corpus, under the point (0) and the comma (1): the reader
    // and the oracle must agree on each.
    for (const char* input : {"0 1.5e3 ", "1-,5", "0.5", "05.", "1+0,0E-0", "0-0", "01e-999",
                              "0abc", "0", "1 ", "01,5", "11.5", "01e", "0e5", "0++1", "01e400"})
        EXPECT_EQ(Dimension(input), "") << input;
}

TEST(FuzzInputs, TheTraceReaderRefusesOrRoundTrips) {
    EXPECT_GE(RunInputs("trace", krepiks::fuzz::CheckTraceInput), 5);
}
