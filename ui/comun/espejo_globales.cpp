#include "ui/comun/espejo_globales.h"

#include "common/global.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

namespace {

// Written whole for each job; the job's own copy is what the worker gets in any case.
std::string escribir_imagen(const char* nombre, const std::string& contenido) {
    static QTemporaryDir carpeta(QDir::tempPath() + QStringLiteral("/vtr900prog-XXXXXX"));
    const QString ruta = carpeta.filePath(QString::fromLatin1(nombre));
    QFile f(ruta);
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        f.write(contenido.data(), static_cast<qint64>(contenido.size()));
    return ruta.toStdString();
}

} // namespace

void reflejar_seleccion(const SeleccionFichero& seleccion) {
    tipo_sw = seleccion.valida && seleccion.joint ? TIPO_FIRM_VTR_JOINT : TIPO_FIRM_VTR_NONE;
    vtr_ARM_version =
        seleccion.valida ? seleccion.imagen(ImagenUnidad::Arm).version : std::string();
}

void reflejar_trabajo(const TrabajoCarga& trabajo, EleccionXa eleccion) {
    tipo_fichero = trabajo.tipo_fichero;
    id_str = trabajo.id;
    size_tele = trabajo.size_tele;
    modo_fichero_str = trabajo.binario ? std::string("BIN") : std::string("HEX");
    if (trabajo.tipo_fichero == TIPO_FICHERO_MOD && trabajo.binario) {
        fichero_banco3 = escribir_imagen("FIRMB3.BIN", trabajo.banco2);
    } else {
        fichero_banco1 = escribir_imagen("FIRMB1.HEX", trabajo.banco1);
        fichero_banco2 = escribir_imagen("FIRMB2.HEX", trabajo.banco2);
    }
    if (eleccion == EleccionXa::I2C)
        tipo_sw = TIPO_FIRM_VTR_XAI2C;
    else if (eleccion == EleccionXa::ClassA)
        tipo_sw = TIPO_FIRM_VTR_XACLASSA;
}
