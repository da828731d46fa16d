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

} // namespace
