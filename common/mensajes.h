#pragma once
// The entries of the four-language message table, by what they say. The table holds
// the texts of every language in this order.

enum class Mensaje : int {
    ErrorFichero = 0,          // "File error"
    SinFichero = 1,            // "Not File"
    FicheroNoEncontrado = 2,   // "No file found"
    Actualizando = 3,          // "Updating Firmware ..."
    ProgramandoBloque1 = 4,    // "Programming Block 1 ..."
    Detectando = 5,            // "Detecting VTR-900 ..."
    ErrorPuerto = 6,           // "Error: Port --> COM"
    Encontrado = 7,            // " VTR-900 found"
    NoEncontrado = 8,          // " VTR-900 not found"
    Espere = 9,                // " Wait  ..."
    ErrorCarga = 10,           // "Error: Invalid Update"
    CargaOk = 11,              // "OK: Update completed"
    Crc = 12,                  // "CRC --> "
    ErrorChecksum = 13,        // "ERROR CHECKSUM"
    ErrorTimeout = 14,         // "ERROR TIMEOUT"
    ProgramandoBloque1Xa = 15, // "Programming Block 1 ..."
    Bloque1Ok = 16,            // "Block 1 update OK ..."
    ProgramandoBloque2 = 17,   // "Programming Block 2 ..."
    Programando = 18,          // "Programming ..."
    BorrandoBloque1 = 19,      // "Deleting Block 1 ..."
    SinEspacio = 20,           // "Error: not enough free space for file download"
    SeleccioneVersion = 21,    // "Select Version"
    Bytes = 22,                // " Bytes"
    De = 23,                   // " of"
    TamanoAProgramar = 24,     // "Size to program in internal memory: "
    MemoriaCompleta = 25,      // "Programming of internal memory complete"
    Grabados = 26,             // "Written "
    ErrorMemoria = 27,         // "Memory programming error"
};

constexpr int NUM_MENSAJES = 28;
