#include "ui/headless/textos_headless.h"

#include <array>

namespace {

using Textos = std::array<const char*, 4>; // fr, es, en, it

const char* en(const Textos& t, int idioma) {
    return t[static_cast<size_t>(idioma >= 0 && idioma < 4 ? idioma : 2)];
}

// %1 and %2 stand for the file's and the unit's controller.
const Textos EQUIVOCADO = {
    "Le fichier est pour le contrôleur %1, mais l'unité a un contrôleur %2 : rien n'a été "
    "chargé",
    "El fichero es para el controlador %1, pero la unidad tiene un controlador %2: no se ha "
    "cargado nada",
    "The file is for the %1 controller, but the unit has an %2 controller: nothing was loaded",
    "Il file è per il controllore %1, ma l'unità ha un controllore %2: non è stato caricato "
    "nulla"};
const Textos INTERRUMPIDO = {
    "Interrompu (%1) : l'unité a été réinitialisée et le port libéré",
    "Interrumpido (%1): la unidad se ha reiniciado y el puerto se ha liberado",
    "Interrupted (%1): the unit was reset and the port released",
    "Interrotto (%1): l'unità è stata reimpostata e la porta liberata"};
const Textos SIN_PANTALLA = {
    "vtr900prog : la fenêtre a besoin d'un affichage (DISPLAY ou WAYLAND_DISPLAY).\n"
    "Sans affichage : vtr900prog --port PORT --file FICHIER (voir vtr900prog --help).",
    "vtr900prog: la ventana necesita una pantalla (DISPLAY o WAYLAND_DISPLAY).\n"
    "Sin pantalla: vtr900prog --port PUERTO --file FICHERO (ver vtr900prog --help).",
    "vtr900prog: the window needs a display (DISPLAY or WAYLAND_DISPLAY).\n"
    "Without one: vtr900prog --port PORT --file FILE (see vtr900prog --help).",
    "vtr900prog: la finestra richiede un display (DISPLAY o WAYLAND_DISPLAY).\n"
    "Senza display: vtr900prog --port PORTA --file FILE (vedere vtr900prog --help)."};

std::string sustituir(std::string t, const std::string& marca, const std::string& valor) {
    if (const auto p = t.find(marca); p != std::string::npos)
        t.replace(p, marca.size(), valor);
    return t;
}

} // namespace

std::string texto_controlador_equivocado(const std::string& fichero, const std::string& unidad,
                                         int idioma) {
    return sustituir(sustituir(en(EQUIVOCADO, idioma), "%1", fichero), "%2", unidad);
}

std::string texto_interrumpido(const std::string& fase, int idioma) {
    return sustituir(en(INTERRUMPIDO, idioma), "%1", fase);
}

std::string texto_sin_pantalla(int idioma) {
    return en(SIN_PANTALLA, idioma);
}
