#pragma once
// An XA unit on port 0 at 9600 8-N-1 and the XA writer run on the test's thread
// (no worker), reporting to the one recorder; images from the one Intel HEX builder.

#include "loader/tablas_xa.h"
#include "support/rig_procedimientos.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

class XaFixture : public ::testing::Test {
protected:
    RigProcedimientos rig{SimUnit::Controller::XA, 0};
    SimPortFixture& sim = rig.sim;
    Grabadora& rec = rig.rec;

    void SetUp() override {
        ASSERT_TRUE(sim.link->abierto());
        // The load sets the loader's line format before it programs.
        sim.link->cambia_conf(9600, 8, 1, 'N', 0);
    }

    SimXaLoader& loader() { return sim.unit->xaLoader(); }

    // The bank-1 image and the total the progress is computed on.
    void useImage(const ImagenHex& img, int32_t total = -1) {
        imagen_ = img.texto();
        total_ = total >= 0 ? total : img.caracteres();
    }
    // Programs the image with the XA writer.
    Resultado grabar() {
        xa_.emplace(rig.contexto());
        return xa_->grabar_micro(imagen_, total_);
    }
    // Characters of the image lines the last programming went through.
    int32_t leidos() const { return xa_ ? xa_->caracteres_leidos() : 0; }

    // The lines the loader received, the synchronisation and command lines included.
    std::vector<std::string> received() { return loader().lineTexts(); }
    int timesReceived(const std::string& line) {
        int n = 0;
        for (const auto& l : received())
            n += l == line;
        return n;
    }

private:
    std::string imagen_;
    int32_t total_ = 0;
    std::optional<GrabadorXa> xa_;
};

// The lines of a complete programming around the image records that are sent.
inline std::vector<std::string> expectedSession(const std::vector<std::string>& records) {
    std::vector<std::string> s = {tabla_sincro,         tabla_velocidad,      tabla_borrar_bloque0,
                                  tabla_borrar_bloque1, tabla_borrar_bloque2, tabla_borrar_bloque3,
                                  tabla_borrar_bloque4};
    s.insert(s.end(), records.begin(), records.end());
    for (const std::string* l : {&tabla_borrar_boot_status, &tabla_status, &tabla_boot,
                                 &tabla_verif_status, &tabla_verif_boot})
        s.push_back(*l);
    return s;
}
