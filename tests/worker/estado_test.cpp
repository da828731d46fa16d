// The status refresh after a port is selected: unit kind, version text, the probe
// of the hardware when the reply asks for it or when there is none, and Load
// enabled in every case.
#include "support/worker_rig.h"

#include <gtest/gtest.h>

#include <optional>

namespace {

const std::string FOUND = "estado: VTR-900 found";
const std::string NOT_FOUND = "estado: VTR-900 not found";

// The log of the refresh, without the selection's own hooks.
std::vector<std::string> refresco(WorkerRig& rig) {
    const size_t from = rig.rec.size();
    EXPECT_TRUE(rig.select());
    EXPECT_FALSE(pedir_estado.load()); // done by the time Load is offered
    return rig.rec.since(from);
}

// The probe starts with the ARM bootloader's line format.
bool sondeado(WorkerRig& rig) {
    for (const auto& f : rig.unit().line().formatHistory())
        if (f.format == FORMAT_115200_8E1)
            return true;
    return false;
}

} // namespace

TEST(WorkerStatus, ReplyGivesKindVersionTextAndProbesFromMajor100) {
    struct Caso {
        SimUnit::Controller controlador;
        uint8_t mayor, menor;
        bool joint;
        std::string tipo, version;
        std::optional<std::string> acargar; // version-to-load text, when it is set
        bool sondeo;                        // the hardware probe ran
    } casos[] = {
        {SimUnit::Controller::XA, 3, 0, false, TIPO_VTR_XA, "3.00", {}, false},
        {SimUnit::Controller::XA, 2, 5, true, TIPO_VTR_XA, "2.05", {}, false},
        {SimUnit::Controller::ARM, 4, 10, true, TIPO_VTR_ARM, "4.10", "4.12", false},
        {SimUnit::Controller::ARM, 12, 34, false, TIPO_VTR_ARM, "12.34", "", false},
        {SimUnit::Controller::ARM, 7, 9, false, TIPO_VTR_ARM, "7.09", "", false},
        {SimUnit::Controller::ARM, 10, 0, false, TIPO_VTR_ARM, "10.00", "", false},
        {SimUnit::Controller::ARM, 100, 1, false, TIPO_VTR_ARM, "100.01", "", true},
        // The probe has the last word on the kind.
        {SimUnit::Controller::XA, 120, 0, false, TIPO_VTR_XA, "120.00", "", true},
    };
    for (const auto& c : casos) {
        SCOPED_TRACE(c.version);
        WorkerRig rig(c.controlador);
        auto cfg = rig.unit().software().config();
        cfg.major = c.mayor;
        cfg.minor = c.menor;
        rig.unit().software().setConfig(cfg);
        if (c.joint) {
            tipo_sw = TIPO_FIRM_VTR_JOINT;
            vtr_ARM_version = "4.12";
        }

        const auto log = refresco(rig);

        std::vector<std::string> esperado;
        if (c.acargar)
            esperado.push_back("acargar:" + *c.acargar);
        esperado.insert(esperado.end(), {"version:" + c.version, FOUND, "estado:", "carga:1"});
        EXPECT_EQ(log, esperado);
        EXPECT_TRUE(tipo_vtr == c.tipo);
        EXPECT_EQ(sondeado(rig), c.sondeo);
        // The running software, and the next refresh, talk at 19200 8-N-1.
        EXPECT_EQ(rig.unit().line().hostFormat(), FORMAT_19200_8N1);
        // The status is asked 5 s after the 3 s that end the initial reset.
        const auto frames = rig.unit().software().records().frames;
        ASSERT_FALSE(frames.empty());
        Tiempo ultimo_dtr{0};
        for (const auto& d : rig.unit().line().dtrHistory())
            if (d.t < frames[0].start)
                ultimo_dtr = d.t;
        EXPECT_GE(frames[0].start - ultimo_dtr, ms(8000));
    }
}

TEST(WorkerStatus, NoReplyProbesTheHardwareClearsTheVersionAndEnablesLoad) {
    struct Caso {
        const char* nombre;
        SimUnit::Controller controlador;
        bool cargadores_mudos;
        std::string tipo, aviso;
    } casos[] = {
        {"ARM bootloader answers", SimUnit::Controller::ARM, false, TIPO_VTR_ARM, FOUND},
        {"XA loader answers", SimUnit::Controller::XA, false, TIPO_VTR_XA, FOUND},
        {"silent unit", SimUnit::Controller::ARM, true, TIPO_VTR_NONE, NOT_FOUND},
    };
    for (const auto& c : casos) {
        SCOPED_TRACE(c.nombre);
        WorkerRig rig(c.controlador);
        auto cfg = rig.unit().software().config();
        cfg.silent = true;
        rig.unit().software().setConfig(cfg);
        if (c.cargadores_mudos) {
            auto f = rig.unit().armBootloader().faults();
            f.silent = true;
            rig.unit().armBootloader().setFaults(f);
        }

        const auto log = refresco(rig);

        EXPECT_EQ(log, (std::vector<std::string>{c.aviso, "version:", "estado:", "carga:1"}));
        EXPECT_TRUE(tipo_vtr == c.tipo);
        EXPECT_TRUE(sondeado(rig));
        EXPECT_EQ(rig.unit().line().hostFormat(), FORMAT_19200_8N1);
    }
}
