#include "files/seleccion_fichero.h"

#include "common/global.h"
#include "common/intel_hex.h"
#include "files/lineas_fichero.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <cstdint>

namespace {

const std::string MARCA_JOINT = "VTR-JOINT";
const std::string MARCA_FIRM = "FIRM";
const std::string MODULO_VTR = "VTR-900";
const std::string MODO_BIN = "BIN";
const std::string DIR_EXT_XA = ":02000004000";  // extended linear address 0x000n
const std::string DIR_EXT_ARM = ":02000004640"; // extended linear address 0x640n
const std::string DIR_INICIO_ARM = ":04000005"; // start linear address
constexpr std::size_t LONGITUD_ID = 16;         // "FIRM" + 8 name + 4 version

// The memory each controller's own loader writes from bank 1: the ARM controller's
// flash from 0x08000000 up (so no data may come before the first extended address
// record), the 64 KiB of code memory of the XA controller.
struct Memoria {
    uint32_t desde, hasta;
};
constexpr Memoria MEMORIA_ARM{0x08000000u, 0xFFFFFFFFu};
constexpr Memoria MEMORIA_XA{0x0000u, 0xFFFFu};

// The marker line of each joint image, in the order in which a marker is tested.
struct MarcaImagen {
    const char* prefijo;
    bool arm;
};
const std::array<MarcaImagen, NUM_IMAGENES_JOINT> MARCAS = {{
    {"FIRMVTR-900_02", false},
    {"FIRMVTR-900_03", false},
    {"FIRMVTR-900_04", true},
}};

QString q(const std::string& s) {
    return QString::fromStdString(s);
}
std::string s(const QString& q) {
    return q.toStdString();
}

bool contiene(const std::string& linea, const std::string& parte) {
    return linea.find(parte) != std::string::npos;
}

std::string describir(const QString& que, const QString& ruta, const QString& detalle) {
    return s(que + QStringLiteral(" ") + QDir::toNativeSeparators(ruta) + QStringLiteral(": ") +
             detalle);
}

std::string linea_demasiado_larga(const LectorLineas& lector) {
    return describir(QStringLiteral("not a firmware line in"), lector.ruta(),
                     QStringLiteral("line too long"));
}

void anadir(std::string& texto, const std::string& linea) {
    texto += linea;
    texto += '\n';
}

bool en_blanco(const std::string& linea) {
    return linea.find_first_not_of(" \t\r") == std::string::npos;
}

bool es_fin(const std::string& linea) {
    const auto r = intel_hex::leer_registro(linea);
    return r && r->tipo == intel_hex::FIN;
}

// Lines of an Intel HEX image with the line of the file each comes from, so that a
// fault is reported where the operator finds it.
struct TextoImagen {
    std::string texto;
    std::vector<int> lineas;
    void anadir(const std::string& linea, int numero) {
        ::anadir(texto, linea);
        lineas.push_back(numero);
    }
};

std::string motivo_imagen(intel_hex::Fallo f, const TextoImagen& t, const std::string& donde) {
    auto en_fichero = [&](int n) {
        return n >= 1 && n <= static_cast<int>(t.lineas.size()) ? t.lineas[n - 1] : 0;
    };
    f.linea = en_fichero(f.linea);
    if (f.motivo == intel_hex::Motivo::Solapa)
        f.valor2 = static_cast<uint32_t>(en_fichero(static_cast<int>(f.valor2)));
    return donde + ": " + intel_hex::describir(f, idioma_actual_texto.load());
}

// The whole image read as the writers will read it: false, with the reason, when
// any of it is damaged.
bool comprobar_imagen(const TextoImagen& t, const std::string& donde, std::string& motivo) {
    intel_hex::Imagen im;
    intel_hex::Fallo f;
    if (intel_hex::leer_imagen(t.texto, im, f))
        return true;
    motivo = motivo_imagen(f, t, donde);
    return false;
}

// Bank 1 goes to the controller's own loader: every byte of it must land in that
// controller's memory, or the load would skip or misplace it.
bool comprobar_banco1(TextoImagen banco1, Memoria m, const std::string& donde,
                      std::string& motivo) {
    banco1.anadir(REG_FIN, 0);
    intel_hex::Imagen im;
    intel_hex::Fallo f;
    // A bank 1 without data is left to the load to refuse, as before: only data that
    // would land outside the controller's memory is a fault of the file.
    if (intel_hex::leer_imagen(banco1.texto, im, f) &&
        (intel_hex::dentro_de(im, m.desde, m.hasta, f) || f.motivo == intel_hex::Motivo::SinDatos))
        return true;
    motivo = motivo_imagen(f, banco1, donde);
    return false;
}

// Bank that a record line makes current. An extended linear address record picks
// bank 1 for upper address ...0 and bank 2 for any other; on ARM units the start
// linear address record that closes the application returns to bank 1.
int banco_de_linea(const std::string& linea, bool arm, int actual) {
    const std::string& prefijo = arm ? DIR_EXT_ARM : DIR_EXT_XA;
    if (contiene(linea, prefijo))
        actual = (linea.size() > 12 && linea[12] == '0') ? 1 : 2;
    if (arm && contiene(linea, DIR_INICIO_ARM))
        actual = 1;
    return actual;
}

// A file that cannot be used: nothing of it, and nothing of the file before it, is
// left where Load would find it.
void fallo_fichero(SeleccionFichero& sel, FileSelectionView& view, const std::string& motivo) {
    const std::string ruta = sel.ruta;
    sel = SeleccionFichero{};
    sel.ruta = ruta;
    view.setModuleText({});
    view.setVersionToLoad({});
    view.showFileError(Mensaje::ErrorFichero, motivo);
}

// Unit firmware: cuts the lines after the header into the two bank images, after
// checking the whole image and where bank 1 lands.
bool repartir_bancos(LectorLineas& lector, int primera, bool arm, SeleccionFichero& sel,
                     std::string& motivo) {
    const std::string donde = s(QFileInfo(lector.ruta()).fileName());
    TextoImagen cuerpo, banco1;
    int actual = 1;
    qint64 total = 0;
    bool fin = false;
    std::string linea;
    for (int n = primera; lector.leer(linea); ++n) {
        if (lector.demasiadoLarga()) {
            motivo = linea_demasiado_larga(lector);
            return false;
        }
        cuerpo.anadir(linea, n);
        if (fin)
            continue; // after the end record: only checked, and refused, below
        total += lector.longitud();
        if (en_blanco(linea))
            continue;
        if (es_fin(linea)) {
            anadir(sel.banco1, REG_FIN);
            anadir(sel.banco2, REG_FIN);
            fin = true;
            continue;
        }
        actual = banco_de_linea(linea, arm, actual);
        if (actual == 1) {
            anadir(sel.banco1, linea);
            banco1.anadir(linea, n);
        } else {
            anadir(sel.banco2, linea);
        }
    }
    if (lector.fallo()) {
        motivo = describir(QStringLiteral("cannot read"), lector.ruta(), lector.error());
        return false;
    }
    if (!comprobar_imagen(cuerpo, donde, motivo) ||
        !comprobar_banco1(banco1, arm ? MEMORIA_ARM : MEMORIA_XA, donde, motivo))
        return false;
    sel.size_tele = static_cast<int>(std::min<qint64>(total, INT32_MAX));
    return true;
}

// Module firmware is sent from the chosen file itself, read here once: what is sent
// is what was checked, whatever happens to the file afterwards. The progress display
// needs to know how much that is: the characters of every line of a HEX file (its
// header lines are sent too), the bytes after the header of a binary one.
bool leer_modulo(LectorLineas& lector, int primera, qint64 longitud_cabecera, SeleccionFichero& sel,
                 std::string& motivo) {
    QFile f(lector.ruta());
    if (!f.open(QIODevice::ReadOnly)) {
        motivo = describir(QStringLiteral("cannot open"), f.fileName(), f.errorString());
        return false;
    }
    const QByteArray todo = f.readAll();
    if (f.error() != QFileDevice::NoError) {
        motivo = describir(QStringLiteral("cannot read"), f.fileName(), f.errorString());
        return false;
    }
    qint64 total = 0;
    if (sel.binario) {
        total = todo.size() - lector.posicion();
    } else {
        total = longitud_cabecera;
        TextoImagen cuerpo;
        std::string linea;
        for (int n = primera; lector.leer(linea); ++n) {
            if (lector.demasiadoLarga()) {
                motivo = linea_demasiado_larga(lector);
                return false;
            }
            total += lector.longitud();
            cuerpo.anadir(linea, n);
        }
        if (lector.fallo()) {
            motivo = describir(QStringLiteral("cannot read"), lector.ruta(), lector.error());
            return false;
        }
        if (!comprobar_imagen(cuerpo, s(QFileInfo(lector.ruta()).fileName()), motivo))
            return false;
    }
    sel.banco2 = todo.toStdString();
    sel.size_tele = static_cast<int>(std::clamp<qint64>(total, 0, INT32_MAX));
    return true;
}

// The end record ends an image: a bank keeps exactly one, at its very end, whichever
// bank its section ended in and however often its kind came. The sections' own end
// records would otherwise leave a bank with two end records, or records after one,
// or bank 1 of an image whose section ended in bank 2 with none, and the loader
// refuses such a bank as it stands. A bank with no record and no end record stays
// empty.
void un_fin_al_final(std::string& banco) {
    std::string resto;
    bool habia_fin = false;
    size_t desde = 0;
    while (desde < banco.size()) {
        size_t hasta = banco.find('\n', desde);
        if (hasta == std::string::npos)
            hasta = banco.size();
        const std::string linea = banco.substr(desde, hasta - desde);
        if (es_fin(linea))
            habia_fin = true;
        else
            anadir(resto, linea);
        desde = hasta + 1;
    }
    if (habia_fin || !resto.empty())
        anadir(resto, REG_FIN);
    banco = std::move(resto);
}

// Splits a joint file into its images: each section is a marker line naming the
// kind and version, three header lines, and the image's records up to its end record.
// Every section is checked whole; one cut short (no end record before the end of the
// file) is damaged like any other.
bool dividir_joint(const std::string& ruta, SeleccionFichero& sel, std::string& motivo) {
    LectorLineas lector(q(ruta));
    if (!lector.abrir()) {
        motivo = describir(QStringLiteral("cannot open"), lector.ruta(), lector.error());
        return false;
    }
    const std::string fichero = s(QFileInfo(lector.ruta()).fileName());
    std::array<qint64, NUM_IMAGENES_JOINT> tamano{};
    // Each image's bank texts as the loader will read them, with the file's line
    // numbers: a kind that comes twice is appended, and what its sections say
    // together is checked below.
    std::array<std::array<TextoImagen, 2>, NUM_IMAGENES_JOINT> bancos;
    std::string linea;
    int n = 0;
    auto leer = [&] {
        if (!lector.leer(linea))
            return false;
        ++n;
        return true;
    };
    while (leer()) {
        if (lector.demasiadoLarga()) {
            motivo = linea_demasiado_larga(lector);
            return false;
        }
        int k = 0;
        while (k < NUM_IMAGENES_JOINT && !contiene(linea, MARCAS[k].prefijo))
            ++k;
        // A marker needs its three digits at positions 14..16; a shorter line that
        // merely mentions the prefix is not one.
        if (k == NUM_IMAGENES_JOINT || linea.size() < LONGITUD_ID)
            continue;
        const bool arm = MARCAS[k].arm;
        ImagenJoint& im = sel.imagenes[k];
        const std::string digitos = linea.substr(13, 3);
        im.version = digitos.substr(0, 1) + "." + digitos.substr(1, 2);
        im.id = "FIRMVTR-900_0" + digitos;
        im.presente = true;
        const std::string donde = fichero + ", " + im.id;

        bool cabecera = true;
        for (int i = 0; i < 3 && cabecera; ++i)
            cabecera = leer();
        TextoImagen seccion, banco1;
        bool fin = false;
        int actual = 1;
        while (cabecera && leer()) {
            if (lector.demasiadoLarga()) {
                motivo = linea_demasiado_larga(lector);
                return false;
            }
            seccion.anadir(linea, n);
            tamano[k] += lector.longitud();
            if (en_blanco(linea))
                continue;
            if (es_fin(linea)) {
                anadir(actual == 1 ? im.banco1 : im.banco2, REG_FIN);
                fin = true;
                break;
            }
            actual = banco_de_linea(linea, arm, actual);
            anadir(actual == 1 ? im.banco1 : im.banco2, linea);
            bancos[static_cast<size_t>(k)][actual == 1 ? 0 : 1].anadir(linea, n);
            if (actual == 1)
                banco1.anadir(linea, n);
        }
        if (lector.fallo())
            break;
        if (!comprobar_imagen(seccion, donde, motivo) ||
            !comprobar_banco1(banco1, arm ? MEMORIA_ARM : MEMORIA_XA, donde, motivo))
            return false;
        // Each bank ends with an end record; the one the section ended in has it.
        if (fin)
            anadir(arm ? im.banco2 : im.banco1, REG_FIN);
        im.size_tele = static_cast<int>(std::min<qint64>(tamano[k], INT32_MAX));
    }
    if (lector.fallo()) {
        motivo = describir(QStringLiteral("cannot read"), lector.ruta(), lector.error());
        return false;
    }
    for (size_t k = 0; k < sel.imagenes.size(); ++k) {
        ImagenJoint& im = sel.imagenes[k];
        un_fin_al_final(im.banco1);
        un_fin_al_final(im.banco2);
        if (!im.presente)
            continue;
        // Sections of one kind that give an address two different bytes, or a bank
        // that reads otherwise alone than within its section, make an image that
        // cannot be loaded as the file shows it.
        const std::string donde = fichero + ", " + im.id;
        for (TextoImagen t : bancos[k]) {
            if (t.lineas.empty())
                continue;
            t.anadir(REG_FIN, 0);
            if (!comprobar_imagen(t, donde, motivo))
                return false;
        }
        if (!comprobar_banco1(bancos[k][0], MARCAS[k].arm ? MEMORIA_ARM : MEMORIA_XA, donde,
                              motivo))
            return false;
    }
    return true;
}

} // namespace

std::string carpeta_inicial_dialogo(const std::string& ruta_programa) {
    const QString ruta = q(ruta_programa).toLower();
    const qsizetype i = ruta.indexOf(QStringLiteral("vtr900prog.exe"));
    if (i < 0)
        return {};
    return s(q(ruta_programa).left(i));
}

std::string texto_version(const std::string& v) {
    if (v.size() != 4)
        return {};
    std::string t;
    if (v[0] != '0')
        t += v[0];
    t += v[1];
    t += '.';
    t += v.substr(2, 2);
    return t;
}

void seleccionar_fichero(const std::string& nombre, const std::string& unidad,
                         SeleccionFichero& sel, FileSelectionView& view) {
    if (nombre.empty()) {
        view.showFileError(Mensaje::FicheroNoEncontrado, {});
        return;
    }
    const QFileInfo info(q(nombre));
    // Only a plain file: a device or a pipe could block or never end.
    if (!info.exists() || !info.isFile()) {
        view.showFileError(Mensaje::SinFichero, {});
        return;
    }
    view.setFileName(nombre);

    // From here on the earlier selection is gone, whatever this file turns out to be.
    sel = SeleccionFichero{};
    sel.ruta = nombre;
    LectorLineas lector(q(nombre));
    if (!lector.abrir()) {
        fallo_fichero(sel, view,
                      describir(QStringLiteral("cannot open"), lector.ruta(), lector.error()));
        return;
    }
    std::string cabecera[4];
    int leidas = 0;
    qint64 longitud_cabecera = 0;
    bool ilegible = false;
    std::string motivo;
    for (; leidas < 4 && lector.leer(cabecera[leidas]); ++leidas) {
        ilegible = ilegible || lector.demasiadoLarga();
        longitud_cabecera += lector.longitud();
    }
    if (lector.fallo()) {
        motivo = describir(QStringLiteral("cannot read"), lector.ruta(), lector.error());
        ilegible = true;
    }
    sel.id = cabecera[0];
    sel.crc1 = cabecera[1];
    sel.crc2 = cabecera[2];
    sel.modo = cabecera[3];
    const std::string& id = cabecera[0];

    // An identification line that is empty, too short for its fixed layout, or not a
    // line at all names nothing we could load.
    const bool joint = !ilegible && contiene(id, MARCA_JOINT);
    const bool firm = !ilegible && !joint && contiene(id, MARCA_FIRM) && id.size() >= LONGITUD_ID;
    if (!joint && !firm) {
        if (motivo.empty())
            motivo = describir(QStringLiteral("not a firmware file:"), lector.ruta(),
                               QStringLiteral("identification line not recognised"));
        fallo_fichero(sel, view, motivo);
        return;
    }
    if (joint) {
        view.setModuleText(MODULO_VTR);
        view.setVersionToLoad(" ");
        sel.joint = true;
        view.setLoadEnabled(false);
        view.processEvents();
        if (!dividir_joint(nombre, sel, motivo)) {
            fallo_fichero(sel, view, motivo);
            return;
        }
        if (unidad == TIPO_VTR_ARM) {
            view.setVersionToLoad(sel.imagen(ImagenUnidad::Arm).version);
            view.hideVersionGroup();
        } else {
            view.setVersionToLoad({});
        }
        sel.valida = true;
        if (unidad == TIPO_VTR_ARM || unidad == TIPO_VTR_XA) {
            view.setLoadEnabled(true);
            view.processEvents();
        }
        return;
    }
    const std::string modulo = id.substr(4, 8);
    view.setModuleText(modulo);
    view.setVersionToLoad(texto_version(id.substr(12, 4)));

    if (contiene(modulo, MODULO_VTR)) {
        const bool arm = id[13] >= '4' || id[12] > '0';
        if (!repartir_bancos(lector, leidas + 1, arm, sel, motivo)) {
            fallo_fichero(sel, view, motivo);
            return;
        }
        sel.tipo_fichero = arm ? TIPO_FICHERO_VTR_ARM : TIPO_FICHERO_VTR_XA;
    } else {
        sel.binario = cabecera[3] == MODO_BIN;
        if (!leer_modulo(lector, leidas + 1, longitud_cabecera, sel, motivo)) {
            fallo_fichero(sel, view, motivo);
            return;
        }
        sel.tipo_fichero = TIPO_FICHERO_MOD;
    }
    sel.valida = true;
}
