// libFuzzer target: the file selection of a file of arbitrary bytes, for each kind of
// unit. Whatever it accepts must load as it was checked: every Intel HEX image it
// keeps is one the reader accepts whole, and a load prepared from it carries exactly
// the images the selection kept.
#include "common/global.h"
#include "common/intel_hex.h"
#include "files/preparar_carga.h"
#include "files/seleccion_fichero.h"

#include <QTemporaryDir>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>

namespace {

class VistaMuda final : public FileSelectionView {
public:
    void showFileError(Mensaje, const std::string&) override {}
    void setFileName(const std::string&) override {}
    void setModuleText(const std::string&) override {}
    void setVersionToLoad(const std::string&) override {}
    void setLoadEnabled(bool) override {}
    void hideVersionGroup() override {}
};

// An empty bank is nothing to send (a joint image that never reaches bank 2); any
// other must be an image the reader accepts whole.
void comprobar_hex(const std::string& texto) {
    if (texto.empty())
        return;
    intel_hex::Imagen img;
    intel_hex::Fallo f;
    if (!intel_hex::leer_imagen(texto, img, f))
        std::abort(); // the selection kept an image the reader refuses
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static QTemporaryDir carpeta;
    static const std::string ruta = carpeta.filePath(QStringLiteral("firmware.hex")).toStdString();
    {
        std::ofstream out(ruta, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    for (const std::string& unidad : {TIPO_VTR_ARM, TIPO_VTR_XA, TIPO_VTR_NONE}) {
        SeleccionFichero sel;
        VistaMuda vista;
        seleccionar_fichero(ruta, unidad, sel, vista);
        if (!sel.valida)
            continue;
        if (!sel.joint && sel.tipo_fichero != TIPO_FICHERO_MOD) {
            comprobar_hex(sel.banco1);
            comprobar_hex(sel.banco2);
        }
        for (const ImagenJoint& im : sel.imagenes)
            if (im.presente) {
                comprobar_hex(im.banco1);
                comprobar_hex(im.banco2);
            }
        for (EleccionXa e : {EleccionXa::Ninguna, EleccionXa::I2C, EleccionXa::ClassA}) {
            TrabajoCarga t;
            if (preparar_carga(sel, unidad, e, t))
                continue; // refused with a message: nothing to load
            const bool igual_a_alguna =
                (t.banco1 == sel.banco1 && t.banco2 == sel.banco2) ||
                std::any_of(sel.imagenes.begin(), sel.imagenes.end(), [&](const ImagenJoint& im) {
                    return im.presente && t.banco1 == im.banco1 && t.banco2 == im.banco2;
                });
            if (!igual_a_alguna)
                std::abort(); // a load of something the selection did not keep
        }
    }
    return 0;
}
