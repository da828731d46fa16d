#pragma once
// Everything one load reads, taken when the load is requested. The worker keeps its
// own copy for the whole load: nothing the front end, another worker or another
// process does afterwards (a new file chosen, a bank image rewritten) changes what
// goes to the unit.

#include <string>

struct TrabajoCarga {
    // TIPO_FICHERO_VTR_XA, TIPO_FICHERO_VTR_ARM or TIPO_FICHERO_MOD.
    std::string tipo_fichero;
    // The identification line sent before a framed transfer.
    std::string id;
    // The size the progress is measured against (characters of the bank-2 image for
    // unit firmware; the module file's size for module firmware).
    int size_tele = 0;
    // Module firmware only: true for binary data after the header ("BIN").
    bool binario = false;
    // Bank 1: the Intel HEX text the controller's own loader writes (unit firmware).
    std::string banco1;
    // Bank 2: the Intel HEX text sent through the framed protocol (unit firmware and
    // Intel HEX module firmware), or the whole module file (binary module firmware).
    std::string banco2;
};
