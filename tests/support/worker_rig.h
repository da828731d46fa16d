#pragma once
// A port's worker against the simulated unit, driven as a front end drives it: the
// port is selected, the refresh runs on the worker's thread, the test requests a
// load with its job, and every callback lands in the recorder's ordered log.
//
// The simulated clock makes the load itself instant; the worker's 100 ms polling
// wait and its events are real-time condition waits, so tests wait for log entries
// with a bounded real-time wait.

#include "common/global.h"
#include "common/trabajo_carga.h"
#include "loader/seleccion_puerto.h"
#include "loader/tmgrupo_superv.h"
#include "support/grabadora.h"
#include "support/hex_records.h"
#include "support/sim_fixture.h"

#include <mutex>
#include <string>
#include <vector>

class WorkerRig {
public:
    explicit WorkerRig(SimUnit::Controller c = SimUnit::Controller::ARM) : sim(c, 0) {
        idioma_actual_texto = 2; // English texts in the log
        acciones.detenerMonitor = [this] { note("hook:detener"); };
        acciones.iniciarMonitor = [this] { note("hook:iniciar"); };
        acciones.falloApertura = [this] { note("hook:fallo"); };
        acciones.mostrarEstado = [this](const std::string& t) { note("hook:estado:" + t); };
    }
    ~WorkerRig() { liberar_trabajadores(); }

    SimPortFixture sim;
    Grabadora rec;
    AccionesPuerto acciones;

    SimUnit& unit() { return *sim.unit; }
    Tmgrupo_superv* worker() const { return grupos_supev[0].load(); }

    // Selects the port and waits for the refresh to enable Load.
    bool select() {
        const int before = rec.count("carga:1");
        if (seleccionar_puerto(0, &rec, acciones) != ResultadoSeleccion::Abierto)
            return false;
        return rec.waitFor("carga:1", before + 1);
    }
    // Requests the load of `trabajo`, as a front end does, and waits for its end.
    bool load(const TrabajoCarga& trabajo) {
        const int before = rec.count("fin");
        worker()->pedir_carga(trabajo);
        return rec.waitFor("fin", before + 1);
    }

    std::vector<std::string> hooks() const {
        std::lock_guard<std::mutex> lock(hm_);
        return hooks_;
    }

private:
    void note(const std::string& h) {
        std::lock_guard<std::mutex> lock(hm_);
        hooks_.push_back(h);
    }
    mutable std::mutex hm_;
    std::vector<std::string> hooks_;
};

// Joined lines, as the framed transfer sends an Intel HEX file.
inline std::vector<uint8_t> concatenadas(const std::vector<std::string>& lines) {
    std::vector<uint8_t> out;
    for (const auto& l : lines)
        out.insert(out.end(), l.begin(), l.end());
    return out;
}

// A unit-firmware job: bank 1 for the controller's loader, bank 2 for the transfer.
inline TrabajoCarga trabajo_unidad(const std::string& tipo, const std::string& id,
                                   const std::vector<std::string>& b1,
                                   const std::vector<std::string>& b2) {
    TrabajoCarga t;
    t.tipo_fichero = tipo;
    t.id = id;
    t.banco1 = texto_de(b1);
    t.banco2 = texto_de(b2);
    t.size_tele = total_caracteres(b1) + total_caracteres(b2);
    return t;
}

// A module-firmware job in Intel HEX form.
inline TrabajoCarga trabajo_modulo_hex(const std::vector<std::string>& lineas,
                                       const std::string& id) {
    TrabajoCarga t;
    t.tipo_fichero = TIPO_FICHERO_MOD;
    t.id = id;
    t.banco2 = texto_de(lineas);
    t.size_tele = total_caracteres(lineas);
    return t;
}

// A module-firmware job in binary form: the header lines (CR LF), then the data.
inline TrabajoCarga trabajo_modulo_bin(const std::vector<std::string>& cabecera,
                                       const std::vector<uint8_t>& datos, const std::string& id) {
    TrabajoCarga t;
    t.tipo_fichero = TIPO_FICHERO_MOD;
    t.id = id;
    t.binario = true;
    t.banco2 = texto_de(cabecera) + std::string(datos.begin(), datos.end());
    return t;
}
