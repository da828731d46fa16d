#pragma once
// Firmware file selection: header reading, classification, bank split, joint files
// and the choice of the image to load.
//
// The logic here decides everything (what the shared file variables become, which
// message-table entry to show, what the module, version-to-load and Load state are);
// the window and the headless front end only show it through FileSelectionView, so
// both run the same code and the tests drive it without widgets.
//
// Every image file (FIRMB1.HEX, FIRMB2.HEX and the six joint images) lives in one
// folder of the program's own, carpeta_imagenes(), never next to the operator's files
// and not depending on the current directory (which a file dialog may change).

#include <string>

class FileSelectionView { // implemented by the window and the headless loader
public:
    virtual ~FileSelectionView() = default;
    virtual void showFileError(int entry) = 0; // modal error box: message-table entry 0, 1 or 2
    virtual void setFileName(const std::string& path) = 0;   // Edit_fichero
    virtual void setModuleText(const std::string& t) = 0;    // StaticText_modulo
    virtual void setVersionToLoad(const std::string& t) = 0; // StaticText_version_acargar
    virtual void setLoadEnabled(bool enabled) = 0;           // BitBtn_start
    virtual void hideVersionGroup() = 0;                     // GroupBox5
    virtual void processEvents() {}
};

// Message-table entries shown by the file selection.
constexpr int MENSAJE_ERROR_FICHERO = 0; // "File error": unreadable or unrecognised file
constexpr int MENSAJE_NO_EXISTE = 1;     // "Not File": the chosen name does not exist
constexpr int MENSAJE_SIN_NOMBRE = 2;    // "No file found": no name chosen

// Everything after the open dialog; nombre = the dialog's current file name ("" = none).
void seleccionar_fichero(const std::string& nombre, FileSelectionView& view);
// Splits the joint file named by fichero_origen into the six image files.
bool dividir_jointVTR(FileSelectionView& view);
// Binds the six image names into carpeta_imagenes() and creates them empty.
bool abrirficheros();
// Closes the six image files (they are written whole; nothing stays open).
bool cerrarficheros();
// Copies the image that fits tipo_vtr / tipo_sw into FIRMB1.HEX and FIRMB2.HEX.
bool selecciona_FirmW_VTR(FileSelectionView& view);
// The one folder of FIRMB1.HEX etc. ($VTR900_IMAGE_DIR when set, else a folder of the
// program's own under the user's temporary location). Created when missing.
std::string carpeta_imagenes();
// Called by Load before it sets grabar_firmware (after selecciona_FirmW_VTR for joint files):
// -1 when what is selected can be loaded, else the message-table entry to show.
int comprobar_seleccion_para_carga();

// ---- helpers, public for the front ends and the tests

// Initial folder of the open dialog from the running program's full path: the part
// before "vtr900prog.exe" (compared in lower case), or "" for another program name.
std::string carpeta_inicial_dialogo(const std::string& ruta_programa);
// Version shown for a 4-digit version field M1 M2 m1 m2: "M2.m1m2" when M1 is '0',
// else "M1M2.m1m2". "" when the field is not 4 characters.
std::string texto_version(const std::string& cuatro_digitos);
// True when the last file selection (and, for joint files, the last image choice)
// produced images that can be loaded. Read by any thread.
bool seleccion_valida();
// A short description of the last read or write failure ("" when none), for a
// front end that wants to say more than the message-table entry.
std::string ultimo_error_fichero();
