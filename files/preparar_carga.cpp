#include "files/preparar_carga.h"

#include "common/global.h"

std::optional<Mensaje> preparar_carga(const SeleccionFichero& sel, const std::string& unidad,
                                      EleccionXa eleccion, TrabajoCarga& trabajo) {
    if (!sel.valida)
        return Mensaje::ErrorFichero;
    if (!sel.joint) {
        trabajo = TrabajoCarga{};
        trabajo.tipo_fichero = sel.tipo_fichero;
        trabajo.id = sel.id;
        trabajo.size_tele = sel.size_tele;
        trabajo.binario = sel.modo == "BIN";
        trabajo.banco1 = sel.banco1;
        trabajo.banco2 = sel.banco2;
        return std::nullopt;
    }
    ImagenUnidad k;
    if (unidad == TIPO_VTR_ARM)
        k = ImagenUnidad::Arm;
    else if (unidad != TIPO_VTR_XA)
        return Mensaje::NoEncontrado; // no unit, so no image of the joint file fits
    else if (eleccion == EleccionXa::Ninguna)
        return Mensaje::SeleccioneVersion;
    else
        k = eleccion == EleccionXa::I2C ? ImagenUnidad::I2C : ImagenUnidad::ClassA;
    const ImagenJoint& im = sel.imagen(k);
    if (!im.presente)
        return Mensaje::ErrorFichero;
    trabajo = TrabajoCarga{};
    trabajo.tipo_fichero = k == ImagenUnidad::Arm ? TIPO_FICHERO_VTR_ARM : TIPO_FICHERO_VTR_XA;
    trabajo.id = im.id;
    trabajo.size_tele = im.size_tele;
    trabajo.banco1 = im.banco1;
    trabajo.banco2 = im.banco2;
    return std::nullopt;
}
