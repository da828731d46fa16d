#include "comms/lista_puertos.h"

#include <QSerialPortInfo>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <string_view>

namespace {

// A text from the system or a USB descriptor on one line: control characters and
// runs of blanks become one space, none at either end.
std::string una_linea(QString texto) {
    for (QChar& c : texto)
        if (c.category() == QChar::Other_Control)
            c = QLatin1Char(' ');
    return texto.simplified().toStdString();
}

std::string o_guion(const std::string& s) {
    return s.empty() ? std::string("-") : s;
}

std::string hex4(uint16_t v) {
    std::array<char, 5> b{};
    std::snprintf(b.data(), b.size(), "%04x", static_cast<unsigned>(v));
    return b.data();
}

// Characters on the screen, not bytes: descriptions and manufacturers can hold
// accented letters, which take two or more bytes in UTF-8.
size_t ancho(std::string_view s) {
    return static_cast<size_t>(std::count_if(
        s.begin(), s.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

// Name split into runs of digits and of other characters; runs of digits compare
// by value.
bool antes_natural(std::string_view a, std::string_view b) {
    size_t i = 0, j = 0;
    auto digito = [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; };
    while (i < a.size() && j < b.size()) {
        if (digito(a[i]) && digito(b[j])) {
            size_t fi = i, fj = j;
            while (fi < a.size() && digito(a[fi]))
                ++fi;
            while (fj < b.size() && digito(b[fj]))
                ++fj;
            std::string_view na = a.substr(i, fi - i), nb = b.substr(j, fj - j);
            while (na.size() > 1 && na.front() == '0')
                na.remove_prefix(1);
            while (nb.size() > 1 && nb.front() == '0')
                nb.remove_prefix(1);
            if (na.size() != nb.size())
                return na.size() < nb.size();
            if (na != nb)
                return na < nb;
            i = fi;
            j = fj;
        } else {
            if (a[i] != b[j])
                return a[i] < b[j];
            ++i;
            ++j;
        }
    }
    if ((a.size() - i) != (b.size() - j))
        return (a.size() - i) < (b.size() - j);
    return a < b; // same by value ("ttyS01", "ttyS1"): still one order
}

} // namespace

PuertoSistema puerto_desde_info(const QSerialPortInfo& info) {
    PuertoSistema p;
    p.dispositivo = info.systemLocation().toStdString();
    p.descripcion = una_linea(info.description());
    p.fabricante = una_linea(info.manufacturer());
    if (info.hasVendorIdentifier())
        p.vid = info.vendorIdentifier();
    if (info.hasProductIdentifier())
        p.pid = info.productIdentifier();
    p.numero_serie = una_linea(info.serialNumber());
    return p;
}

std::vector<PuertoSistema> puertos_del_sistema() {
    std::vector<PuertoSistema> puertos;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts())
        puertos.push_back(puerto_desde_info(info));
    ordenar_puertos(puertos);
    return puertos;
}

void ordenar_puertos(std::vector<PuertoSistema>& puertos) {
    std::stable_sort(puertos.begin(), puertos.end(),
                     [](const PuertoSistema& a, const PuertoSistema& b) {
                         return antes_natural(a.dispositivo, b.dispositivo);
                     });
}

std::string formatear_puertos(const std::vector<PuertoSistema>& puertos) {
    constexpr size_t COLUMNAS = 5;
    std::vector<std::array<std::string, COLUMNAS>> filas;
    filas.reserve(puertos.size());
    for (const PuertoSistema& p : puertos) {
        // A VID:PID with one of its halves unknown still shows the half there is.
        std::string ids = "-";
        if (p.vid || p.pid)
            ids = (p.vid ? hex4(*p.vid) : "-") + ":" + (p.pid ? hex4(*p.pid) : "-");
        filas.push_back({o_guion(p.dispositivo), o_guion(p.descripcion), o_guion(p.fabricante), ids,
                         o_guion(p.numero_serie)});
    }
    std::array<size_t, COLUMNAS> anchos{};
    for (const auto& f : filas)
        for (size_t c = 0; c < COLUMNAS; ++c)
            anchos[c] = std::max(anchos[c], ancho(f[c]));

    std::string out;
    for (const auto& f : filas) {
        std::string linea;
        for (size_t c = 0; c < COLUMNAS; ++c) {
            linea += f[c];
            if (c + 1 < COLUMNAS)
                linea.append(anchos[c] - ancho(f[c]) + 2, ' ');
        }
        while (!linea.empty() && linea.back() == ' ')
            linea.pop_back();
        out += linea;
        out += '\n';
    }
    return out;
}

EleccionPuertoAuto elegir_puerto_auto(const std::vector<PuertoSistema>& puertos) {
    EleccionPuertoAuto e;
    for (const PuertoSistema& p : puertos)
        (p.es_usb() ? e.adaptadores : e.otros).push_back(p);
    if (e.adaptadores.size() == 1)
        e.dispositivo = e.adaptadores.front().dispositivo;
    return e;
}

std::string describir_fallo_auto(const EleccionPuertoAuto& e) {
    if (e.elegido())
        return {};
    std::string out;
    if (e.adaptadores.empty()) {
        out = "--port auto: no USB serial adapter found";
        if (e.otros.empty()) {
            out += ", and no other serial port either.\n";
        } else {
            out += "; the other serial ports are:\n";
            out += formatear_puertos(e.otros);
        }
        out += "Plug the adapter in, or name the port with --port.\n";
    } else {
        out = "--port auto: " + std::to_string(e.adaptadores.size()) +
              " USB serial adapters found:\n";
        out += formatear_puertos(e.adaptadores);
        out += "Name the one the unit is on with --port.\n";
    }
    return out;
}
