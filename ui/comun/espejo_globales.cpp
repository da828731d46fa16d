#include "ui/comun/espejo_globales.h"

#include "common/global.h"

void reflejar_seleccion(const SeleccionFichero& seleccion) {
    tipo_sw = seleccion.valida && seleccion.joint ? TIPO_FIRM_VTR_JOINT : TIPO_FIRM_VTR_NONE;
    vtr_ARM_version =
        seleccion.valida ? seleccion.imagen(ImagenUnidad::Arm).version : std::string();
}
