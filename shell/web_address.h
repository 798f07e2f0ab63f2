#pragma once
#include <QString>

namespace krepiks {

// The maker's page: shown at the end of every footer link and opened by it.
inline const QString WebAddress = QStringLiteral("https://krepiks.example.org/");

inline QString FooterLinkCaption() {
    return QStringLiteral("Пример программы с сайта ") + WebAddress;
}

} // namespace krepiks
