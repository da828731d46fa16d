#pragma once
// The command lines of the XA controller's in-system programming loader and the
// answers awaited for them. Every line but the synchronisation character is an
// Intel HEX record: ':', byte count, address 0000, record type, data, checksum
// (two's complement of the byte sum), upper-case hexadecimal, sent with no line end.

#include "common/global.h" // tabla_sincro: "f", shared with detection

#include <string>

extern const std::string tabla_velocidad;          // type 0x82: speed
extern const std::string tabla_borrar_bloque0;     // type 0x83, 01 00: erase block 0
extern const std::string tabla_borrar_bloque1;     // type 0x83, 01 20
extern const std::string tabla_borrar_bloque2;     // type 0x83, 01 40
extern const std::string tabla_borrar_bloque3;     // type 0x83, 01 80
extern const std::string tabla_borrar_bloque4;     // type 0x83, 01 C0
extern const std::string tabla_borrar_boot_status; // type 0x83, 04: erase boot vector and status
extern const std::string tabla_status;             // type 0x83, 06 00 00: status byte 00
extern const std::string tabla_boot;               // type 0x83, 06 01 F8: boot vector F8
extern const std::string tabla_verif_status;       // type 0x85, 07 01: read the status byte
extern const std::string tabla_verif_boot;         // type 0x85, 07 02: read the boot vector

// A full stop, carriage return and line feed: the loader's acknowledgement.
extern const std::string tabla_ack_normal;
// The read-backs: the echo of the line, the value read as two hex digits, the acknowledgement.
extern const std::string tabla_ack_verif_status;
extern const std::string tabla_ack_verif_boot;

// An extended linear address record for address 0000: the loader starts there anyway,
// so the line is not sent (it still counts toward the progress).
extern const std::string REG_DIRECCION_EXT_CERO;
