#include "common/texto_traza.h"

#include <QByteArray>
#include <QStringDecoder>

namespace {
QString escapar(unsigned v) {
    return QStringLiteral("<%1>").arg(v, 2, 16, QLatin1Char('0')).toUpper();
}
} // namespace

QString texto_traza_visible(const std::string& linea) {
    std::string l = linea;
    while (!l.empty() && (l.back() == '\r' || l.back() == '\n'))
        l.pop_back();
    // Stateless: a sequence cut short at the end is an error, not input held back
    // for a next call that never comes (its bytes would vanish from the line).
    QStringDecoder utf8(QStringDecoder::Utf8, QStringConverter::Flag::Stateless);
    const QString decoded = utf8(QByteArray::fromStdString(l));
    QString r;
    if (!utf8.hasError()) {
        for (const QChar ch : decoded)
            r +=
                (ch.unicode() < 0x20 || ch.unicode() == 0x7F) ? escapar(ch.unicode()) : QString(ch);
        return r;
    }
    for (const char ch : l) {
        const auto v = static_cast<unsigned char>(ch);
        r += (v >= 0x20 && v < 0x7F) ? QString(QLatin1Char(ch)) : escapar(v);
    }
    return r;
}
