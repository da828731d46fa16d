#include "ui/files/seleccion_fichero.h"

#include "common/global.h"
#include "ui/files/lineas_fichero.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <memory>

namespace {

// ---- state of our own, read by the Load command (any thread may ask)

// The last file selection produced images that can be loaded.
std::atomic<bool> g_seleccion_ok{false};

enum Imagen : int { IMAGEN_I2C = 0, IMAGEN_CLASSA = 1, IMAGEN_ARM = 2, NUM_IMAGENES = 3 };
constexpr int IMAGEN_NINGUNA = -1;

// Which images the last joint file held, and which one is now in the bank images.
std::array<std::atomic<bool>, NUM_IMAGENES> g_imagen_presente{};
std::atomic<int> g_imagen_preparada{IMAGEN_NINGUNA};

TextoCompartido g_ultimo_error;

const std::string MARCA_JOINT = "VTR-JOINT";
const std::string MARCA_FIRM = "FIRM";
const std::string MODULO_VTR = "VTR-900";
const std::string MODO_BIN = "BIN";
const std::string DIR_EXT_XA = ":02000004000";  // extended linear address 0x000n
const std::string DIR_EXT_ARM = ":02000004640"; // extended linear address 0x640n
const std::string DIR_INICIO_ARM = ":04000005"; // start linear address
constexpr std::size_t LONGITUD_ID = 16;         // "FIRM" + 8 name + 4 version

struct DatosImagen {
    const char* prefijo;
    TextoCompartido* version;
    TextoCompartido* id;
    std::atomic<int>* size;
    TextoCompartido* banco1;
    TextoCompartido* banco2;
    const std::string* nombre1;
    const std::string* nombre2;
    bool arm;
};

// In the order in which a marker line is tested.
const std::array<DatosImagen, NUM_IMAGENES> IMAGENES = {{
    {"FIRMVTR-900_02", &vtr_I2C_version, &id_str_I2C, &size_tele_I2C, &fichero_I2C1, &fichero_I2C2,
     &ID_FICHERO_I2C1, &ID_FICHERO_I2C2, false},
    {"FIRMVTR-900_03", &vtr_CLASSA_version, &id_str_CLASSA, &size_tele_CLASSA, &fichero_CLASSA1,
     &fichero_CLASSA2, &ID_FICHERO_CLASSA1, &ID_FICHERO_CLASSA2, false},
    {"FIRMVTR-900_04", &vtr_ARM_version, &id_str_ARM, &size_tele_ARM, &fichero_ARM1, &fichero_ARM2,
     &ID_FICHERO_ARM1, &ID_FICHERO_ARM2, true},
}};

// The six image files of the split in progress (window thread only).
std::array<std::unique_ptr<EscritorLineas>, 2 * NUM_IMAGENES> g_imagenes;

QString q(const std::string& s) {
    return QString::fromStdString(s);
}
std::string s(const QString& q) {
    return q.toStdString();
}

bool contiene(const std::string& linea, const std::string& parte) {
    return linea.find(parte) != std::string::npos;
}

void anotar_error(const QString& que, const QString& ruta, const QString& detalle) {
    g_ultimo_error = s(que + QStringLiteral(" ") + QDir::toNativeSeparators(ruta) +
                       QStringLiteral(": ") + detalle);
}

std::string ruta_imagen(const std::string& nombre) {
    return s(QDir(q(carpeta_imagenes())).filePath(q(nombre)));
}

// Bank that a record line makes current (0 = unchanged). An extended linear address
// record picks bank 1 for upper address ...0 and bank 2 for any other; on ARM units
// the start linear address record that closes the application returns to bank 1.
int banco_de_linea(const std::string& linea, bool arm, int actual) {
    const std::string& prefijo = arm ? DIR_EXT_ARM : DIR_EXT_XA;
    if (contiene(linea, prefijo))
        actual = (linea.size() > 12 && linea[12] == '0') ? 1 : 2;
    if (arm && contiene(linea, DIR_INICIO_ARM))
        actual = 1;
    return actual;
}

// Forget what the last selection prepared, so that Load cannot send the images of
// an earlier file while a new name is shown.
void anular_seleccion() {
    g_seleccion_ok = false;
    g_imagen_preparada = IMAGEN_NINGUNA;
    for (auto& p : g_imagen_presente)
        p = false;
    tipo_fichero = std::string();
    size_tele = 0;
}

void borrar_bancos() {
    QFile::remove(q(ruta_imagen(ID_FICHERO_BANCO1)));
    QFile::remove(q(ruta_imagen(ID_FICHERO_BANCO2)));
}

void borrar_imagenes() {
    for (const DatosImagen& d : IMAGENES) {
        QFile::remove(q(ruta_imagen(*d.nombre1)));
        QFile::remove(q(ruta_imagen(*d.nombre2)));
    }
}

// A file that cannot be used: nothing of it, and nothing of the file before it, is
// left where Load would find it.
void fallo_fichero(FileSelectionView& view) {
    anular_seleccion();
    borrar_bancos();
    view.setModuleText({});
    view.setVersionToLoad({});
    view.showFileError(MENSAJE_ERROR_FICHERO);
}

// Unit firmware: cuts the lines after the header into the two bank images.
bool repartir_bancos(LectorLineas& lector, bool arm) {
    const QString ruta1 = q(ruta_imagen(ID_FICHERO_BANCO1));
    const QString ruta2 = q(ruta_imagen(ID_FICHERO_BANCO2));
    EscritorLineas banco1(ruta1), banco2(ruta2);
    if (!banco1.abrir() || !banco2.abrir()) {
        EscritorLineas& malo = banco1.fallo() ? banco1 : banco2;
        anotar_error(QStringLiteral("cannot create"), malo.ruta(), malo.error());
        return false;
    }
    int actual = 1;
    qint64 total = 0;
    std::string linea;
    while (lector.leer(linea)) {
        if (lector.demasiadoLarga()) {
            anotar_error(QStringLiteral("not a firmware line in"), lector.ruta(),
                         QStringLiteral("line too long"));
            return false;
        }
        if (linea == REG_FIN) {
            banco1.escribir(linea);
            banco2.escribir(linea);
        } else {
            actual = banco_de_linea(linea, arm, actual);
            (actual == 1 ? banco1 : banco2).escribir(linea);
        }
        total += lector.longitud();
        if (linea == REG_FIN)
            break; // whatever follows the end record is not part of the image
    }
    if (lector.fallo()) {
        anotar_error(QStringLiteral("cannot read"), lector.ruta(), lector.error());
        return false;
    }
    if (banco1.fallo() || banco2.fallo() || !banco1.confirmar() || !banco2.confirmar()) {
        EscritorLineas& malo = banco1.fallo() ? banco1 : banco2;
        anotar_error(QStringLiteral("cannot write"), malo.ruta(), malo.error());
        return false;
    }
    fichero_banco1 = s(ruta1);
    fichero_banco2 = s(ruta2);
    size_tele = static_cast<int>(std::min<qint64>(total, INT32_MAX));
    return true;
}

// Module firmware is sent from the chosen file itself; the progress display needs to
// know how much that is: the characters of every line of a HEX file (its header lines
// are sent too), the bytes after the header of a binary one.
bool medir_modulo(LectorLineas& lector, bool binario, qint64 longitud_cabecera) {
    qint64 total = 0;
    if (binario) {
        total = QFileInfo(lector.ruta()).size() - lector.posicion();
    } else {
        total = longitud_cabecera;
        std::string linea;
        while (lector.leer(linea)) {
            if (lector.demasiadoLarga()) {
                anotar_error(QStringLiteral("not a firmware line in"), lector.ruta(),
                             QStringLiteral("line too long"));
                return false;
            }
            total += lector.longitud();
        }
        if (lector.fallo()) {
            anotar_error(QStringLiteral("cannot read"), lector.ruta(), lector.error());
            return false;
        }
    }
    size_tele = static_cast<int>(std::clamp<qint64>(total, 0, INT32_MAX));
    return true;
}

} // namespace

std::string carpeta_imagenes() {
    QString carpeta = qEnvironmentVariable("VTR900_IMAGE_DIR");
    if (carpeta.isEmpty()) {
        // Per user, so that two operators of one machine never share images.
        QString base = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
        if (base.isEmpty())
            base = QStandardPaths::writableLocation(QStandardPaths::TempLocation);
        carpeta = QDir(base).filePath(QStringLiteral("vtr900prog"));
    }
    QDir().mkpath(carpeta);
    return s(QDir::cleanPath(carpeta));
}

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

bool seleccion_valida() {
    return g_seleccion_ok;
}

std::string ultimo_error_fichero() {
    return g_ultimo_error.get();
}

void seleccionar_fichero(const std::string& nombre, FileSelectionView& view) {
    if (nombre.empty()) {
        view.showFileError(MENSAJE_SIN_NOMBRE);
        return;
    }
    const QFileInfo info(q(nombre));
    // Only a plain file: a device or a pipe could block or never end.
    if (!info.exists() || !info.isFile()) {
        view.showFileError(MENSAJE_NO_EXISTE);
        return;
    }
    view.setFileName(nombre);
    g_ultimo_error = std::string();

    // From here on the earlier selection is gone, whatever this file turns out to be.
    anular_seleccion();
    fichero_origen = nombre;
    LectorLineas lector(q(nombre));
    id_str = std::string();
    crc1_str = std::string();
    crc2_str = std::string();
    modo_fichero_str = std::string();
    tipo_sw = TIPO_FIRM_VTR_NONE;
    if (!lector.abrir()) {
        anotar_error(QStringLiteral("cannot open"), lector.ruta(), lector.error());
        fallo_fichero(view);
        return;
    }
    std::string cabecera[4];
    int leidas = 0;
    qint64 longitud_cabecera = 0;
    bool ilegible = false;
    for (; leidas < 4 && lector.leer(cabecera[leidas]); ++leidas) {
        ilegible = ilegible || lector.demasiadoLarga();
        longitud_cabecera += lector.longitud();
    }
    if (lector.fallo()) {
        anotar_error(QStringLiteral("cannot read"), lector.ruta(), lector.error());
        ilegible = true;
    }
    id_str = cabecera[0];
    crc1_str = cabecera[1];
    crc2_str = cabecera[2];
    modo_fichero_str = cabecera[3];
    const std::string& id = cabecera[0];

    // An identification line that is empty, too short for its fixed layout, or not a
    // line at all names nothing we could load.
    const bool joint = !ilegible && contiene(id, MARCA_JOINT);
    const bool firm = !ilegible && !joint && contiene(id, MARCA_FIRM) && id.size() >= LONGITUD_ID;
    if (!joint && !firm) {
        if (g_ultimo_error.empty())
            anotar_error(QStringLiteral("not a firmware file:"), lector.ruta(),
                         QStringLiteral("identification line not recognised"));
        fallo_fichero(view);
        return;
    }
    if (joint) {
        view.setModuleText(MODULO_VTR);
        view.setVersionToLoad(" ");
        tipo_sw = TIPO_FIRM_VTR_JOINT;
        dividir_jointVTR(view);
        return;
    }
    const std::string modulo = id.substr(4, 8);
    view.setModuleText(modulo);
    view.setVersionToLoad(texto_version(id.substr(12, 4)));

    if (contiene(modulo, MODULO_VTR)) {
        const bool arm = id[13] >= '4' || id[12] > '0';
        if (!repartir_bancos(lector, arm)) {
            fallo_fichero(view);
            return;
        }
        tipo_fichero = arm ? TIPO_FICHERO_VTR_ARM : TIPO_FICHERO_VTR_XA;
    } else {
        const bool binario = cabecera[3] == MODO_BIN;
        if (!medir_modulo(lector, binario, longitud_cabecera)) {
            fallo_fichero(view);
            return;
        }
        (binario ? fichero_banco3 : fichero_banco2) = nombre;
        tipo_fichero = TIPO_FICHERO_MOD;
    }
    g_seleccion_ok = true;
}

bool abrirficheros() {
    bool ok = true;
    for (int i = 0; i < NUM_IMAGENES; ++i) {
        const DatosImagen& d = IMAGENES[i];
        *d.banco1 = ruta_imagen(*d.nombre1);
        *d.banco2 = ruta_imagen(*d.nombre2);
        g_imagenes[2 * i] = std::make_unique<EscritorLineas>(q(d.banco1->get()));
        g_imagenes[2 * i + 1] = std::make_unique<EscritorLineas>(q(d.banco2->get()));
    }
    for (auto& f : g_imagenes) {
        if (!f->abrir()) {
            if (ok)
                anotar_error(QStringLiteral("cannot create"), f->ruta(), f->error());
            ok = false;
        }
    }
    return ok;
}

// Puts the six images in place, or (guardar false, or any of them failed) none of
// them: a split that failed anywhere leaves no image behind.
static bool cerrar_imagenes(bool guardar) {
    bool ok = guardar;
    for (auto& f : g_imagenes)
        if (f && f->fallo()) {
            anotar_error(QStringLiteral("cannot write"), f->ruta(), f->error());
            ok = false;
        }
    for (auto& f : g_imagenes) {
        if (!f)
            continue;
        if (!ok) {
            f->descartar();
        } else if (!f->confirmar()) {
            anotar_error(QStringLiteral("cannot write"), f->ruta(), f->error());
            ok = false;
        }
    }
    g_imagenes = {};
    if (!ok)
        borrar_imagenes();
    return ok;
}

bool cerrarficheros() {
    return cerrar_imagenes(true);
}

bool dividir_jointVTR(FileSelectionView& view) {
    g_seleccion_ok = false;
    g_imagen_preparada = IMAGEN_NINGUNA;
    for (auto& p : g_imagen_presente)
        p = false;
    bool ok = abrirficheros();
    LectorLineas lector(q(fichero_origen.get()));
    if (ok && !lector.abrir()) {
        anotar_error(QStringLiteral("cannot open"), lector.ruta(), lector.error());
        ok = false;
    }
    for (const DatosImagen& d : IMAGENES) {
        *d.version = std::string();
        *d.size = 0;
    }
    view.setLoadEnabled(false);
    view.processEvents();
    for (const DatosImagen& d : IMAGENES)
        *d.id = std::string();

    std::array<qint64, NUM_IMAGENES> tamano{};
    std::string linea;
    while (ok && lector.leer(linea)) {
        if (lector.demasiadoLarga()) {
            anotar_error(QStringLiteral("not a firmware line in"), lector.ruta(),
                         QStringLiteral("line too long"));
            ok = false;
            break;
        }
        int k = 0;
        while (k < NUM_IMAGENES && !contiene(linea, IMAGENES[k].prefijo))
            ++k;
        // A marker needs its three digits at positions 14..16; a shorter line that
        // merely mentions the prefix is not one.
        if (k == NUM_IMAGENES || linea.size() < LONGITUD_ID)
            continue;
        const DatosImagen& d = IMAGENES[k];
        const std::string digitos = linea.substr(13, 3);
        *d.version = digitos.substr(0, 1) + "." + digitos.substr(1, 2);
        *d.id = "FIRMVTR-900_0" + digitos;
        g_imagen_presente[k] = true;
        EscritorLineas& banco1 = *g_imagenes[2 * k];
        EscritorLineas& banco2 = *g_imagenes[2 * k + 1];

        bool cabecera = true;
        for (int i = 0; i < 3 && cabecera; ++i)
            cabecera = lector.leer(linea);
        bool fin = false;
        int actual = 1;
        while (cabecera && lector.leer(linea)) {
            if (lector.demasiadoLarga()) {
                anotar_error(QStringLiteral("not a firmware line in"), lector.ruta(),
                             QStringLiteral("line too long"));
                ok = false;
                break;
            }
            tamano[k] += lector.longitud();
            actual = banco_de_linea(linea, d.arm, actual);
            (actual == 1 ? banco1 : banco2).escribir(linea);
            if (linea == REG_FIN) {
                fin = true;
                break;
            }
        }
        // A section cut off by the end of the file ends there, like a single file
        // without its end record; only a complete section gets the extra record.
        if (fin)
            (d.arm ? banco2 : banco1).escribir(REG_FIN);
        *d.size = static_cast<int>(std::min<qint64>(tamano[k], INT32_MAX));
    }
    if (ok && lector.fallo()) {
        anotar_error(QStringLiteral("cannot read"), lector.ruta(), lector.error());
        ok = false;
    }
    if (!cerrar_imagenes(ok))
        ok = false;
    if (!ok) {
        for (const DatosImagen& d : IMAGENES) {
            *d.version = std::string();
            *d.id = std::string();
            *d.size = 0;
        }
        fallo_fichero(view);
        return false;
    }

    const std::string vtr = tipo_vtr.get();
    if (tipo_sw == TIPO_FIRM_VTR_JOINT && vtr == TIPO_VTR_ARM) {
        view.setVersionToLoad(vtr_ARM_version.get());
        view.hideVersionGroup();
    } else {
        view.setVersionToLoad({});
    }
    g_seleccion_ok = true;
    if (vtr == TIPO_VTR_ARM || vtr == TIPO_VTR_XA) {
        view.setLoadEnabled(true);
        view.processEvents();
    }
    return true;
}

bool selecciona_FirmW_VTR(FileSelectionView& view) {
    g_imagen_preparada = IMAGEN_NINGUNA;
    const std::string vtr = tipo_vtr.get();
    const std::string sw = tipo_sw.get();
    int k = IMAGEN_NINGUNA;
    if (vtr == TIPO_VTR_ARM) {
        view.hideVersionGroup();
        k = IMAGEN_ARM;
    } else if (vtr == TIPO_VTR_XA && sw == TIPO_FIRM_VTR_XAI2C) {
        k = IMAGEN_I2C;
    } else if (vtr == TIPO_VTR_XA && sw == TIPO_FIRM_VTR_XACLASSA) {
        k = IMAGEN_CLASSA;
    }

    const QString ruta1 = q(ruta_imagen(ID_FICHERO_BANCO1));
    const QString ruta2 = q(ruta_imagen(ID_FICHERO_BANCO2));
    EscritorLineas banco1(ruta1), banco2(ruta2);
    bool ok = banco1.abrir() && banco2.abrir();
    if (!ok)
        anotar_error(QStringLiteral("cannot create"), banco1.fallo() ? ruta1 : ruta2,
                     banco1.fallo() ? banco1.error() : banco2.error());
    // Nothing to copy when the joint file had no image for this unit: the banks stay
    // empty and the Load check refuses them.
    const bool copiar = ok && k != IMAGEN_NINGUNA && g_imagen_presente[k];
    if (copiar) {
        const DatosImagen& d = IMAGENES[k];
        const std::pair<std::string, EscritorLineas*> pares[2] = {{d.banco1->get(), &banco1},
                                                                  {d.banco2->get(), &banco2}};
        for (const auto& [origen, destino] : pares) {
            LectorLineas lector(q(origen));
            if (!lector.abrir()) {
                anotar_error(QStringLiteral("cannot open"), lector.ruta(), lector.error());
                ok = false;
                break;
            }
            std::string linea;
            while (lector.leer(linea) && destino->escribir(linea)) {
            }
            if (lector.fallo()) {
                anotar_error(QStringLiteral("cannot read"), lector.ruta(), lector.error());
                ok = false;
                break;
            }
        }
    }
    if (ok && (!banco1.confirmar() || !banco2.confirmar())) {
        anotar_error(QStringLiteral("cannot write"), banco1.fallo() ? ruta1 : ruta2,
                     banco1.fallo() ? banco1.error() : banco2.error());
        ok = false;
    }
    if (!ok) {
        banco1.descartar();
        banco2.descartar();
        borrar_bancos();
        return false;
    }
    if (copiar) {
        const DatosImagen& d = IMAGENES[k];
        size_tele = d.size->load();
        id_str = d.id->get();
        fichero_banco1 = s(ruta1);
        fichero_banco2 = s(ruta2);
        tipo_fichero = d.arm ? TIPO_FICHERO_VTR_ARM : TIPO_FICHERO_VTR_XA;
        g_imagen_preparada = k;
    }
    return true;
}

int comprobar_seleccion_para_carga() {
    if (!g_seleccion_ok)
        return MENSAJE_ERROR_FICHERO;
    const std::string sw = tipo_sw.get();
    if (sw != TIPO_FIRM_VTR_JOINT && sw != TIPO_FIRM_VTR_XAI2C && sw != TIPO_FIRM_VTR_XACLASSA)
        return -1; // a single file: its images were written when it was chosen
    const std::string vtr = tipo_vtr.get();
    int k;
    if (vtr == TIPO_VTR_ARM)
        k = IMAGEN_ARM;
    else if (vtr != TIPO_VTR_XA)
        return 8; // " VTR-900 not found": no unit, so no image of the joint file fits
    else if (sw == TIPO_FIRM_VTR_JOINT)
        return 21; // "Select Version"
    else
        k = sw == TIPO_FIRM_VTR_XAI2C ? IMAGEN_I2C : IMAGEN_CLASSA;
    if (!g_imagen_presente[k] || g_imagen_preparada != k)
        return MENSAJE_ERROR_FICHERO;
    return -1;
}
