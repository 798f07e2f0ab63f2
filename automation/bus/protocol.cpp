#include "automation/bus/protocol.h"

#include <QDBusArgument>
#include <QDBusMetaType>

#include <limits>

namespace automation::bus {

QString BusNameForProgId(const std::u16string& progId) {
    QString name = QString::fromLatin1(BusNamePrefix);
    // A bus name element may be neither empty nor start with a digit.
    if (progId.empty() || (progId.front() >= u'0' && progId.front() <= u'9'))
        name += QLatin1Char('_');
    for (char16_t c : progId) {
        if (c >= u'A' && c <= u'Z')
            name += QChar(static_cast<char16_t>(c - u'A' + u'a'));
        else if ((c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9'))
            name += QChar(c);
        else if (c == u'.')
            name += QLatin1Char('_');
        else
            name += QStringLiteral("_%1").arg(static_cast<unsigned>(c), 4, 16, QLatin1Char('0'));
    }
    return name;
}

void WireValues::append(const WireValue& value) {
    types.append(value.type);
    int64_t number = value.number;
    if (value.type == VT_BSTR) {
        if (value.text.isNull()) {
            number = -1;
        } else {
            const std::u16string& units = value.text.str();
            number = static_cast<int64_t>(units.size());
            for (char16_t c : units)
                text.append(static_cast<quint16>(c));
        }
    }
    numbers.append(number);
    reals.append(value.real);
}

void WireValues::appendTo(QList<QVariant>& arguments) const {
    arguments << QVariant::fromValue(types) << QVariant::fromValue(numbers)
              << QVariant::fromValue(reals) << QVariant::fromValue(text);
}

bool ReadWireValues(const QList<QVariant>& arguments, qsizetype at, std::vector<WireValue>* out) {
    out->clear();
    std::vector<WireValue> values;
    if (at < 0 || arguments.size() < at + 4)
        return false;
    const auto types = qdbus_cast<QList<quint16>>(arguments[at]);
    const auto numbers = qdbus_cast<QList<qint64>>(arguments[at + 1]);
    const auto reals = qdbus_cast<QList<double>>(arguments[at + 2]);
    const auto text = qdbus_cast<QList<quint16>>(arguments[at + 3]);
    if (numbers.size() != types.size() || reals.size() != types.size())
        return false;
    qsizetype nextUnit = 0;
    for (qsizetype i = 0; i < types.size(); ++i) {
        WireValue value;
        value.type = types[i];
        value.number = numbers[i];
        value.real = reals[i];
        switch (value.type) {
        case VT_EMPTY:
        case VT_R8:
        case VT_CY:
        case VT_BYREF | VT_R8:
            break;
        case VT_I4:
            if (value.number < std::numeric_limits<int32_t>::min() ||
                value.number > std::numeric_limits<int32_t>::max())
                return false;
            break;
        case VT_BOOL:
            if (value.number != VARIANT_TRUE && value.number != VARIANT_FALSE)
                return false;
            break;
        case VT_DISPATCH:
        case VT_BYREF | VT_DISPATCH:
            if (value.number < 0)
                return false;
            break;
        case VT_BSTR:
            if (value.number >= 0) {
                if (value.number > text.size() - nextUnit)
                    return false;
                std::u16string units;
                units.reserve(static_cast<size_t>(value.number));
                for (int64_t k = 0; k < value.number; ++k)
                    units += static_cast<char16_t>(text[nextUnit++]);
                value.text = BStr(std::move(units));
            } else if (value.number != -1) {
                return false;
            }
            break;
        default:
            return false;
        }
        values.push_back(std::move(value));
    }
    if (nextUnit != text.size())
        return false;
    *out = std::move(values);
    return true;
}

bool ReferencesOnlyRead(const std::vector<uint16_t>& declared, const DISPPARAMS& params) {
    if (!params.rgdispidNamedArgs.empty())
        return false;
    const size_t n = params.rgvarg.size();
    for (size_t i = 0; i < n; ++i) {
        if ((params.rgvarg[i].vt() & VT_BYREF) == 0)
            continue;
        const size_t parameter = n - 1 - i; // COM's order is the caller's reversed
        if (parameter >= declared.size() || !(declared[parameter] & PARAMFLAG_FIN) ||
            (declared[parameter] & PARAMFLAG_FOUT))
            return false;
    }
    return true;
}

void RegisterWireTypes() {
    qDBusRegisterMetaType<QList<quint16>>();
    qDBusRegisterMetaType<QList<qint64>>();
    qDBusRegisterMetaType<QList<double>>();
    qDBusRegisterMetaType<QList<qint32>>();
    qDBusRegisterMetaType<QList<quint32>>();
    qDBusRegisterMetaType<QList<quint64>>();
    qDBusRegisterMetaType<QList<bool>>();
}

} // namespace automation::bus
