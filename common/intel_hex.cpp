#include "common/intel_hex.h"

#include "common/hex.h"

#include <algorithm>
#include <array>
#include <cstdio>

namespace intel_hex {

namespace {

constexpr size_t MIN_DIGITOS = 10; // count, offset, type and checksum: 5 bytes

std::string hex2(uint32_t v) {
    char b[8];
    std::snprintf(b, sizeof b, "%02X", static_cast<unsigned>(v & 0xFF));
    return b;
}

std::string hex8(uint32_t v) {
    char b[16];
    std::snprintf(b, sizeof b, "0x%08X", static_cast<unsigned>(v));
    return b;
}

std::string_view sin_blancos_finales(std::string_view s) {
    while (!s.empty() && (s.back() == '\r' || s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

bool fallar(Fallo* f, Motivo m, uint32_t valor = 0, uint32_t valor2 = 0) {
    if (f) {
        f->motivo = m;
        f->valor = valor;
        f->valor2 = valor2;
    }
    return false;
}

// One record's bytes and where they land; a record that runs past the end of its
// 64 KiB segment wraps to the segment's start, as the format defines.
struct Colocado {
    uint32_t direccion;
    std::vector<uint8_t> datos;
    int linea;
};

void colocar(std::vector<Colocado>& out, uint32_t base, const Registro& r) {
    const size_t hasta_fin = 0x10000u - r.offset;
    const size_t primero = std::min(r.datos.size(), hasta_fin);
    out.push_back({base + r.offset,
                   std::vector<uint8_t>(r.datos.begin(),
                                        r.datos.begin() + static_cast<std::ptrdiff_t>(primero)),
                   r.linea});
    if (primero < r.datos.size())
        out.push_back({base,
                       std::vector<uint8_t>(r.datos.begin() + static_cast<std::ptrdiff_t>(primero),
                                            r.datos.end()),
                       r.linea});
}

} // namespace

size_t Imagen::bytes() const {
    size_t n = 0;
    for (const Tramo& t : tramos)
        n += t.datos.size();
    return n;
}

std::optional<uint8_t> Imagen::byte_en(uint32_t direccion) const {
    auto it = std::upper_bound(tramos.begin(), tramos.end(), direccion,
                               [](uint32_t d, const Tramo& t) { return d < t.direccion; });
    if (it == tramos.begin())
        return std::nullopt;
    --it;
    if (direccion >= it->fin())
        return std::nullopt;
    return it->datos[direccion - it->direccion];
}

std::optional<Registro> leer_registro(std::string_view linea, Fallo* fallo) {
    linea = sin_blancos_finales(linea);
    if (linea.empty() || linea[0] != ':') {
        fallar(fallo, Motivo::NoEsRegistro);
        return std::nullopt;
    }
    const std::string_view digitos = linea.substr(1);
    for (char c : digitos) {
        if (valor_hex(c) < 0) {
            fallar(fallo, Motivo::DigitoNoHex, static_cast<uint8_t>(c));
            return std::nullopt;
        }
    }
    if (digitos.size() < MIN_DIGITOS) {
        fallar(fallo, Motivo::Corto);
        return std::nullopt;
    }
    auto byte = [&](size_t i) {
        return static_cast<uint8_t>(valor_hex(digitos[2 * i]) << 4 | valor_hex(digitos[2 * i + 1]));
    };
    const uint8_t cuenta = byte(0);
    if (digitos.size() != 2 * (size_t{cuenta} + 5)) {
        fallar(fallo, Motivo::CuentaNoCoincide, cuenta);
        return std::nullopt;
    }
    const size_t n = size_t{cuenta} + 5;
    uint8_t suma = 0;
    for (size_t i = 0; i + 1 < n; ++i)
        suma = static_cast<uint8_t>(suma + byte(i));
    const auto esperado = static_cast<uint8_t>(0x100 - suma);
    if (byte(n - 1) != esperado) {
        fallar(fallo, Motivo::Checksum, byte(n - 1), esperado);
        return std::nullopt;
    }
    Registro r;
    r.tipo = byte(3);
    r.offset = static_cast<uint16_t>(byte(1) << 8 | byte(2));
    if (r.tipo > INICIO_LINEAL) {
        fallar(fallo, Motivo::TipoDesconocido, r.tipo);
        return std::nullopt;
    }
    static constexpr std::array<int, 6> cuenta_de_tipo{-1, 0, 2, 4, 2, 4};
    if (cuenta_de_tipo[r.tipo] >= 0 && cuenta != cuenta_de_tipo[r.tipo]) {
        fallar(fallo, Motivo::LongitudTipo, r.tipo);
        return std::nullopt;
    }
    r.datos.reserve(cuenta);
    for (size_t i = 0; i < cuenta; ++i)
        r.datos.push_back(byte(4 + i));
    return r;
}

bool leer_imagen(std::string_view texto, Imagen& imagen, Fallo& fallo) {
    imagen = Imagen{};
    fallo = Fallo{};
    std::vector<Colocado> colocados;
    uint32_t base = 0;
    bool fin_visto = false;
    int numero = 0;
    size_t pos = 0;
    while (pos < texto.size()) {
        size_t corte = texto.find_first_of("\r\n", pos);
        if (corte == std::string_view::npos)
            corte = texto.size();
        const std::string_view linea = texto.substr(pos, corte - pos);
        // CR LF is one line end; a lone CR or LF is one too.
        pos = corte;
        if (pos < texto.size() && texto[pos] == '\r')
            ++pos;
        if (pos < texto.size() && texto[pos] == '\n')
            ++pos;
        ++numero;
        if (sin_blancos_finales(linea).empty())
            continue;
        fallo.linea = numero;
        if (fin_visto)
            return fallar(&fallo, Motivo::TrasFin);
        auto r = leer_registro(linea, &fallo);
        if (!r)
            return false;
        r->linea = numero;
        switch (r->tipo) {
        case DATOS:
            if (!r->datos.empty()) {
                ++imagen.registros_datos;
                colocar(colocados, base, *r);
            }
            break;
        case FIN:
            fin_visto = true;
            break;
        case SEGMENTO_EXTENDIDO:
            base = (uint32_t{r->datos[0]} << 8 | r->datos[1]) << 4;
            break;
        case LINEAL_EXTENDIDA:
            base = (uint32_t{r->datos[0]} << 8 | r->datos[1]) << 16;
            break;
        default: // start addresses: nothing is written for them
            break;
        }
    }
    if (!fin_visto) {
        fallo.linea = 0;
        return fallar(&fallo, Motivo::SinFin);
    }
    fallo.linea = 0;

    std::stable_sort(colocados.begin(), colocados.end(), [](const Colocado& a, const Colocado& b) {
        return a.direccion < b.direccion;
    });
    for (const Colocado& c : colocados) {
        imagen.piezas.push_back({c.direccion, static_cast<uint32_t>(c.datos.size()), c.linea});
        if (imagen.tramos.empty() || c.direccion > imagen.tramos.back().fin()) {
            imagen.tramos.push_back({c.direccion, c.datos});
            continue;
        }
        // Touches or overlaps the run before it: the overlapping bytes must agree.
        Tramo& t = imagen.tramos.back();
        const uint64_t solape = std::min<uint64_t>(t.fin() - c.direccion, c.datos.size());
        for (uint64_t i = 0; i < solape; ++i) {
            if (t.datos[c.direccion - t.direccion + i] != c.datos[i]) {
                // Name the earlier record that placed the byte.
                const uint32_t d = static_cast<uint32_t>(c.direccion + i);
                int otra = 0;
                for (const Pieza& p : imagen.piezas)
                    if (p.linea != c.linea && d >= p.direccion && d - p.direccion < p.longitud)
                        otra = p.linea;
                fallo.linea = std::max(c.linea, otra);
                return fallar(&fallo, Motivo::Solapa, d,
                              static_cast<uint32_t>(std::min(c.linea, otra)));
            }
        }
        t.datos.insert(t.datos.end(), c.datos.begin() + static_cast<std::ptrdiff_t>(solape),
                       c.datos.end());
    }
    return true;
}

bool dentro_de(const Imagen& imagen, uint32_t desde, uint32_t hasta, Fallo& fallo) {
    fallo = Fallo{};
    if (imagen.tramos.empty())
        return fallar(&fallo, Motivo::SinDatos);
    for (const Pieza& p : imagen.piezas) {
        const uint64_t ultimo = uint64_t{p.direccion} + p.longitud - 1;
        if (p.direccion < desde || ultimo > hasta) {
            fallo.linea = p.linea;
            return fallar(&fallo, Motivo::FueraDeMemoria,
                          p.direccion < desde ? p.direccion : hasta + 1);
        }
    }
    return true;
}

std::string describir(const Fallo& f, int idioma) {
    if (idioma < 0 || idioma > 3)
        idioma = 2;
    const std::string v = hex2(f.valor);
    const std::string v2 = hex2(f.valor2);
    const std::string dir = hex8(f.valor);
    const std::string otra = std::to_string(f.valor2);
    std::string t;
    // French, Spanish, English, Italian.
    auto elegir = [idioma](std::string fr, std::string es, std::string en, std::string it) {
        const std::array<std::string, 4> a{std::move(fr), std::move(es), std::move(en),
                                           std::move(it)};
        return a[static_cast<size_t>(idioma)];
    };
    switch (f.motivo) {
    case Motivo::NoEsRegistro:
        t = elegir("ce n'est pas un enregistrement Intel HEX (pas de ':' au début)",
                   "no es un registro Intel HEX (falta ':' al principio)",
                   "not an Intel HEX record (no ':' at the start)",
                   "non è un record Intel HEX (manca ':' all'inizio)");
        break;
    case Motivo::DigitoNoHex: {
        const std::string c =
            f.valor >= 0x20 && f.valor < 0x7F
                ? std::string("'").append(1, static_cast<char>(f.valor)).append("'")
                : std::string("<").append(v).append(">");
        t = elegir("le caractère " + c + " n'est pas un chiffre hexadécimal",
                   "el carácter " + c + " no es un dígito hexadecimal",
                   "character " + c + " is not a hexadecimal digit",
                   "il carattere " + c + " non è una cifra esadecimale");
        break;
    }
    case Motivo::Corto:
        t = elegir("enregistrement trop court", "registro demasiado corto", "record too short",
                   "record troppo corto");
        break;
    case Motivo::CuentaNoCoincide:
        t = elegir("le nombre d'octets " + v + " ne correspond pas à la longueur de la ligne",
                   "la cuenta de bytes " + v + " no corresponde a la longitud de la línea",
                   "byte count " + v + " does not match the length of the line",
                   "il numero di byte " + v + " non corrisponde alla lunghezza della riga");
        break;
    case Motivo::Checksum:
        t = elegir("somme de contrôle " + v + ", attendue " + v2,
                   "suma de control " + v + ", debería ser " + v2,
                   "checksum is " + v + ", should be " + v2,
                   "checksum " + v + ", dovrebbe essere " + v2);
        break;
    case Motivo::TipoDesconocido:
        t = elegir("type d'enregistrement inconnu " + v, "tipo de registro desconocido " + v,
                   "unknown record type " + v, "tipo di record sconosciuto " + v);
        break;
    case Motivo::LongitudTipo:
        t = elegir("enregistrement de type " + v + " de longueur incorrecte",
                   "registro de tipo " + v + " con una longitud errónea",
                   "record of type " + v + " with a wrong length",
                   "record di tipo " + v + " di lunghezza errata");
        break;
    case Motivo::TrasFin:
        t = elegir("enregistrement après l'enregistrement de fin",
                   "registro después del registro de fin", "record after the end record",
                   "record dopo il record di fine");
        break;
    case Motivo::SinFin:
        t = elegir("pas d'enregistrement de fin (fichier incomplet)",
                   "falta el registro de fin (fichero incompleto)",
                   "no end record (the file is incomplete)",
                   "manca il record di fine (file incompleto)");
        break;
    case Motivo::Solapa:
        t = elegir("l'octet à l'adresse " + dir + " diffère de celui de la ligne " + otra,
                   "el byte de la dirección " + dir + " difiere del de la línea " + otra,
                   "the byte at address " + dir + " differs from the one on line " + otra,
                   "il byte all'indirizzo " + dir + " differisce da quello della riga " + otra);
        break;
    case Motivo::FueraDeMemoria:
        t = elegir("adresse " + dir + " hors de la mémoire du contrôleur",
                   "dirección " + dir + " fuera de la memoria del controlador",
                   "address " + dir + " is outside the controller's memory",
                   "indirizzo " + dir + " fuori dalla memoria del controllore");
        break;
    case Motivo::SinDatos:
        t = elegir("l'image ne contient aucune donnée", "la imagen no contiene datos",
                   "the image holds no data", "l'immagine non contiene dati");
        break;
    }
    if (f.linea <= 0)
        return t;
    return elegir("ligne ", "línea ", "line ", "riga ") + std::to_string(f.linea) + ": " + t;
}

} // namespace intel_hex
