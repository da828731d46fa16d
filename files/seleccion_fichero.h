#pragma once
// Firmware file selection: header reading, classification, bank split, joint files
// and the choice of the image to load.
//
// Everything is decided here and returned as a SeleccionFichero value that the front
// end keeps: the kind of file, its identification line and size, and the bank images
// themselves, held in memory (nothing is written to disk, so two loader processes on
// one machine never see each other's images). What the operator sees of it goes
// through FileSelectionView, so both front ends run the same code and the tests drive
// it without widgets.

#include "common/mensajes.h"

#include <array>
#include <string>

// One image of a joint file.
struct ImagenJoint {
    bool presente = false;
    std::string id;      // "FIRMVTR-900_0" and the image's three version digits
    std::string version; // shown to the operator, e.g. "4.12"
    int size_tele = 0;   // characters of the image's lines (the progress measure)
    std::string banco1;  // Intel HEX text written by the controller's own loader
    std::string banco2;  // Intel HEX text sent through the framed protocol
};

// The images of a joint file, by kind.
enum class ImagenUnidad : int { I2C = 0, ClassA = 1, Arm = 2 };
constexpr int NUM_IMAGENES_JOINT = 3;

// What the last file choice produced.
struct SeleccionFichero {
    std::string ruta;    // the chosen file ("" until one is chosen)
    bool valida = false; // its images can be loaded
    bool joint = false;  // a joint file: the image is chosen when the load starts

    // The four header lines (identification, two CRC lines, mode).
    std::string id, crc1, crc2, modo;

    // Single files.
    std::string tipo_fichero; // TIPO_FICHERO_VTR_XA, TIPO_FICHERO_VTR_ARM or TIPO_FICHERO_MOD
    int size_tele = 0;
    bool binario = false; // module firmware with binary data after the header
    // Unit firmware: the two bank images. Module firmware: bank 2 is the whole file.
    std::string banco1, banco2;

    // Joint files.
    std::array<ImagenJoint, NUM_IMAGENES_JOINT> imagenes;
    const ImagenJoint& imagen(ImagenUnidad k) const { return imagenes[static_cast<int>(k)]; }
};

// What a file choice shows, implemented by each front end.
class FileSelectionView {
public:
    virtual ~FileSelectionView() = default;
    // The file cannot be used (entry ErrorFichero, SinFichero or FicheroNoEncontrado);
    // motivo says why in plain words ("" when the entry says it all).
    virtual void showFileError(Mensaje entry, const std::string& motivo) = 0;
    virtual void setFileName(const std::string& path) = 0;   // the file now chosen
    virtual void setModuleText(const std::string& t) = 0;    // the module the file is for
    virtual void setVersionToLoad(const std::string& t) = 0; // the version it holds
    virtual void setLoadEnabled(bool enabled) = 0;           // whether a load may start
    virtual void hideVersionGroup() = 0;                     // no image choice is needed
    virtual void processEvents() {}
};

// Everything after the open dialog; nombre = the dialog's current file name ("" = none),
// unidad = the kind of unit found on the port (TIPO_VTR_*). With no name or a name that
// is not a plain file, seleccion stays as it was; otherwise it becomes the new file's,
// or is cleared when the file cannot be used.
void seleccionar_fichero(const std::string& nombre, const std::string& unidad,
                         SeleccionFichero& seleccion, FileSelectionView& view);

// ---- helpers, public for the front ends and the tests

// Initial folder of the open dialog from the running program's full path: the part
// before "vtr900prog.exe" (compared in lower case), or "" for another program name.
std::string carpeta_inicial_dialogo(const std::string& ruta_programa);
// Version shown for a 4-digit version field M1 M2 m1 m2: "M2.m1m2" when M1 is '0',
// else "M1M2.m1m2". "" when the field is not 4 characters.
std::string texto_version(const std::string& cuatro_digitos);
