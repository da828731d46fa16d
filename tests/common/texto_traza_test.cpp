// A trace line as the Monitor page and a headless trace file show it.
#include "common/texto_traza.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(TextoTrazaVisible, RawBytesBecomeOneReadableLine) {
    const struct {
        std::string raw;
        QString shown;
    } cases[] = {
        {"TX->A5,04,00,00,00,00,FC", "TX->A5,04,00,00,00,00,FC"},
        {"\x7F", "<7F>"},                                      // ARM synchronisation byte
        {"y", "y"},                                            // ARM acknowledgement 0x79
        {std::string("\x00\x11\xC3\x28", 4), "<00><11><C3>("}, // no UTF-8 text
        {":00000001FF\r\n", ":00000001FF"},                    // a text line loses its line end
        {"a\nb", "a<0A>b"},                                    // inside, a line end stays visible
        {"Erreur: détection", "Erreur: détection"},            // UTF-8 text as it is
        // A byte that starts a sequence and ends the line is shown, not swallowed.
        {"\x79\xEE", "y<EE>"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.shown.toStdString());
        EXPECT_EQ(texto_traza_visible(c.raw), c.shown);
    }
}

// The bytes of one exchange in one direction make one line, written as frames are,
// with the answer's name when it has one.
TEST(LineaTrazaBytes, OneLinePerDirectionWithNamedAnswers) {
    const struct {
        SentidoTraza sentido;
        std::string bytes;
        std::string nombre;
        std::string linea;
    } cases[] = {
        {SentidoTraza::TX, "\x7F", "", "TX->7F"},
        {SentidoTraza::TX, "\x31\xCE", "", "TX->31,CE"},
        {SentidoTraza::RX, "\x79", "ACK", "RX->79 ACK"},
        {SentidoTraza::RX, "\x1F", "NACK", "RX->1F NACK"},
        {SentidoTraza::TX, std::string("\x08\x00\x00\x00\x08", 5), "", "TX->08,00,00,00,08"},
        {SentidoTraza::RX, std::string("\x00\x0A\xFF", 3), "", "RX->00,0A,FF"},
        {SentidoTraza::RX, "", "ACK", ""}, // nothing received, no line
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.linea);
        EXPECT_EQ(linea_traza_bytes(c.sentido, c.bytes, c.nombre), c.linea);
        // The line stays as it is on the Monitor page.
        EXPECT_EQ(texto_traza_visible(c.linea), QString::fromStdString(c.linea));
    }
}

} // namespace
