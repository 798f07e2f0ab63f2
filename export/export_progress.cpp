#include "export/export_progress.h"

#include <QByteArray>
#include <cmath>

namespace krepiks::exporting {

namespace {

QByteArray clock(double seconds) {
    const long whole = std::lround(seconds);
    return QByteArray::number(whole / 60) + ':' +
           QByteArray::number(whole % 60).rightJustified(2, '0');
}

} // namespace

Progress::Progress(std::size_t total, bool terminal, std::FILE* out)
    : total_(total), terminal_(terminal), out_(out), start_(std::chrono::steady_clock::now()) {
    if (terminal_)
        drawBar();
}

double Progress::seconds() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
}

void Progress::ended(const VariantJob& job, const VariantResult& result, const QStringList& names) {
    ++done_;
    QStringList written, skipped, failed;
    for (std::size_t f = 0; f < result.files.size() && f < std::size_t(names.size()); ++f) {
        switch (result.files[f]) {
        case FileOutcome::Written:
            written << names[f];
            break;
        case FileOutcome::Skipped:
            skipped << names[f];
            break;
        case FileOutcome::Failed:
            failed << names[f];
            break;
        }
    }
    written_ += written.size();
    skipped_ += skipped.size();
    const bool failedHere = !failed.isEmpty() || (!result.error.isEmpty() && result.files.empty());
    if (failedHere)
        ++failedVariants_;
    const QByteArray variant = QStringLiteral("%1 (id %2)").arg(job.isp).arg(job.id).toUtf8();
    if (terminal_) {
        if (failedHere) {
            std::fprintf(out_, "\r\033[KОШИБКА %s: %s\n", variant.constData(),
                         result.error.toUtf8().constData());
        }
        drawBar();
        return;
    }
    QStringList parts;
    if (!written.isEmpty())
        parts << QStringLiteral("записаны ") + written.join(QStringLiteral(", "));
    if (!skipped.isEmpty())
        parts << QStringLiteral("пропущены (уже есть) ") + skipped.join(QStringLiteral(", "));
    if (failedHere)
        parts << QStringLiteral("ОШИБКА: ") + result.error;
    std::fprintf(out_, "[%zu/%zu] %s: %s\n", done_, total_, variant.constData(),
                 parts.join(QStringLiteral("; ")).toUtf8().constData());
    std::fflush(out_);
}

void Progress::drawBar() {
    constexpr int Width = 30;
    const int filled = total_ ? static_cast<int>(Width * done_ / total_) : Width;
    const double elapsed = seconds();
    const double rate = elapsed > 0 ? done_ / elapsed : 0;
    QByteArray line = "\r\033[K[" + QByteArray(filled, '#') + QByteArray(Width - filled, '.') +
                      "] готово " + QByteArray::number(qulonglong(done_)) + '/' +
                      QByteArray::number(qulonglong(total_));
    if (done_ > 0) {
        line += ", " + QByteArray::number(rate, 'f', 1) + " в секунду";
        if (done_ < total_)
            line += ", осталось около " + clock((total_ - done_) / rate);
    }
    std::fputs(line.constData(), out_);
    std::fflush(out_);
    barShown_ = true;
}

void Progress::close() {
    if (barShown_) {
        std::fputs("\n", out_);
        std::fflush(out_);
        barShown_ = false;
    }
}

} // namespace krepiks::exporting
