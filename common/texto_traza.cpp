#include "common/texto_traza.h"

#include <QByteArray>
#include <QStringDecoder>

namespace {
QString escapar(unsigned v) {
    return QStringLiteral("<%1>").arg(v, 2, 16, QLatin1Char('0')).toUpper();
}
} // namespace

std::string linea_traza_bytes(SentidoTraza sentido, const std::string& bytes,
                              const std::string& nombre) {
    if (bytes.empty())
        return {};
    static const char* const HEX = "0123456789ABCDEF";
    std::string l = sentido == SentidoTraza::TX ? "TX->" : "RX->";
    l.reserve(4 + bytes.size() * 3 + nombre.size() + 1);
    for (size_t i = 0; i < bytes.size(); ++i) {
        const auto v = static_cast<unsigned char>(bytes[i]);
        if (i > 0)
            l += ',';
        l += HEX[v >> 4];
        l += HEX[v & 0x0F];
    }
    if (!nombre.empty())
        l += ' ' + nombre;
    return l;
}

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

std::string linea_traza_nota(const std::string& texto) {
    return "** " + texto;
}
