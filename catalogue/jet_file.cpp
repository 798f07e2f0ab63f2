#include "catalogue/jet_file.h"

#include <QFile>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <sys/stat.h>

namespace krepiks {

namespace {

constexpr int HeaderPage = 4096;
constexpr int EncodedStart = 0x18;
constexpr int EncodedLength = 128;

// The header block is RC4-encoded with a fixed key; decoding is the same operation.
void rc4(const std::array<uint8_t, 4>& key, uint8_t* data, int length) {
    std::array<uint8_t, 256> s{};
    for (int i = 0; i < 256; ++i)
        s[i] = static_cast<uint8_t>(i);
    for (int i = 0, j = 0; i < 256; ++i) {
        j = (j + s[i] + key[i % key.size()]) & 0xff;
        std::swap(s[i], s[j]);
    }
    for (int n = 0, i = 0, j = 0; n < length; ++n) {
        i = (i + 1) & 0xff;
        j = (j + s[i]) & 0xff;
        std::swap(s[i], s[j]);
        data[n] ^= s[(s[i] + s[j]) & 0xff];
    }
}

uint32_t u32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// Access masks a Jet 4.0 password with the integer part of the file's creation date, as
// Java's (int) cast takes it: NaN is 0, values out of range saturate.
int32_t passwordMask(const uint8_t* dateBytes) {
    double date = 0;
    std::memcpy(&date, dateBytes, sizeof date);
    if (std::isnan(date))
        return 0;
    if (date >= 2147483647.0)
        return std::numeric_limits<int32_t>::max();
    if (date <= -2147483648.0)
        return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(date);
}

} // namespace

JetHeader ReadJetHeader(const QByteArray& firstPage) {
    JetHeader header;
    static const char jet[] = "Standard Jet DB";
    static const char ace[] = "Standard ACE DB";
    if (firstPage.size() < 0x15 || firstPage[0] != 0 || firstPage[1] != 1)
        return header;
    const QByteArray signature = firstPage.mid(4, 16);
    if (signature == QByteArray(ace, sizeof ace)) {
        header.format = JetFormat::Ace;
        return header;
    }
    if (signature != QByteArray(jet, sizeof jet))
        return header;
    // ACE files say so in their signature; a Jet signature with another version is no file
    // of Access's, and is called a foreign format like any other.
    const int version = static_cast<uint8_t>(firstPage[0x14]);
    if (version > 1)
        return header;
    header.format = version == 0 ? JetFormat::Jet3 : JetFormat::Jet4;
    if (header.format != JetFormat::Jet4 || firstPage.size() < EncodedStart + EncodedLength)
        return header;
    std::array<uint8_t, EncodedLength> block{};
    std::memcpy(block.data(), firstPage.constData() + EncodedStart, block.size());
    rc4({0xC7, 0xDA, 0x39, 0x6B}, block.data(), EncodedLength);
    const auto at = [&](int fileOffset) { return block.data() + (fileOffset - EncodedStart); };
    header.encrypted = u32(at(0x3E)) != 0;
    const int32_t mask = passwordMask(at(0x72));
    const uint8_t maskBytes[4] = {uint8_t(mask), uint8_t(mask >> 8), uint8_t(mask >> 16),
                                  uint8_t(mask >> 24)};
    for (int i = 0; i < 40 && !header.passwordProtected; ++i)
        header.passwordProtected = (at(0x42)[i] ^ maskBytes[i % 4]) != 0;
    return header;
}

JetHeader ReadJetHeaderOf(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return ReadJetHeader(file.read(HeaderPage));
}

QString JetRefusal(const JetHeader& header, const QString& file) {
    switch (header.format) {
    case JetFormat::NotJet:
        return QStringLiteral("%1 — не файл Microsoft Access (Jet)").arg(file);
    case JetFormat::Jet3:
        return QStringLiteral("%1 — файл Access 97 (Jet 3); читаются только файлы Jet 4.0 "
                              "(Access 2000–2003): сначала преобразуйте его в этот формат в "
                              "Access")
            .arg(file);
    case JetFormat::Ace:
        return QStringLiteral("%1 — файл Access 2007 или новее (ACE, .accdb); читаются только "
                              "файлы Jet 4.0 (Access 2000–2003): сначала сохраните его в этом "
                              "формате в Access")
            .arg(file);
    case JetFormat::Jet4:
        break;
    }
    if (header.passwordProtected)
        return QStringLiteral("%1 защищён паролем базы данных; сначала снимите пароль в "
                              "Access")
            .arg(file);
    if (header.encrypted)
        return QStringLiteral("%1 зашифрован; сначала расшифруйте его в Access").arg(file);
    return {};
}

QString NoFileToRead(const QString& path) {
    struct stat info {};
    if (stat(QFile::encodeName(path).constData(), &info) != 0)
        return errno == ENOENT || errno == ENOTDIR
                   ? QStringLiteral("файл %1 не найден").arg(path)
                   : QStringLiteral("%1 не читается: %2")
                         .arg(path, QString::fromLocal8Bit(std::strerror(errno)));
    if (S_ISDIR(info.st_mode))
        return QStringLiteral("%1 — папка").arg(path);
    if (S_ISCHR(info.st_mode) || S_ISBLK(info.st_mode))
        return QStringLiteral("%1 — устройство, а не обычный файл").arg(path);
    if (!S_ISREG(info.st_mode))
        return QStringLiteral("%1 — не обычный файл (канал или сокет)").arg(path);
    return {};
}

} // namespace krepiks
