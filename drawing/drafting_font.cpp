#include "drawing/drafting_font.h"

#include <QFontDatabase>
#include <QFontMetricsF>
#include <QStringList>

namespace krepiks::drawing {

namespace {

QString& family() {
    static QString name;
    return name;
}

} // namespace

std::string LoadDraftingFont() {
    if (!family().isEmpty())
        return {};
    const int id = QFontDatabase::addApplicationFont(
        QStringLiteral("/usr/share/fonts/truetype/osifont/osifont.ttf"));
    if (id >= 0 && !QFontDatabase::applicationFontFamilies(id).isEmpty()) {
        family() = QFontDatabase::applicationFontFamilies(id).first();
        return {};
    }
    // Elsewhere than Debian's place: whatever fontconfig knows by that name.
    for (const QString& name : QFontDatabase::families())
        if (name.compare(QLatin1String("osifont"), Qt::CaseInsensitive) == 0) {
            family() = name;
            return {};
        }
    return "чертёжный шрифт osifont не установлен (пакет Debian fonts-osifont)";
}

QFont DraftingFont() {
    QFont font(family());
    font.setPixelSize(ReferenceEm);
    font.setStyleStrategy(QFont::PreferOutline);
    font.setHintingPreference(QFont::PreferNoHinting);
    font.setKerning(false);
    return font;
}

double EmForCapHeight(double capHeight) {
    static const double capPerEm = [] {
        const double cap = QFontMetricsF(DraftingFont()).capHeight();
        return cap > 0 ? cap / ReferenceEm : 0.7;
    }();
    return capHeight / capPerEm;
}

TextMeasure DraftingMeasure() {
    return [metrics = QFontMetricsF(DraftingFont())](const std::string& text, double height) {
        return metrics.horizontalAdvance(QString::fromUtf8(text)) / ReferenceEm *
               EmForCapHeight(height);
    };
}

} // namespace krepiks::drawing
