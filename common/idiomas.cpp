#include "common/idiomas.h"

namespace {
template <typename Pred> const Idioma* buscar(Pred pred) {
    for (const Idioma& i : tabla_idiomas)
        if (pred(i))
            return &i;
    return nullptr;
}

int columna_de(const Idioma* i) {
    return i ? i->columna : -1;
}
} // namespace

const Idioma* idioma_de_columna(int columna) {
    return buscar([columna](const Idioma& i) { return i.columna == columna; });
}

const Idioma* idioma_de_captions(int numero_captions) {
    return buscar(
        [numero_captions](const Idioma& i) { return i.numero_captions == numero_captions; });
}

int idioma_para_lenguaje(int primary_language_id) {
    return columna_de(buscar([primary_language_id](const Idioma& i) {
        return i.lenguaje_primario == primary_language_id;
    }));
}

int idioma_para_codigo(const std::string& code) {
    return columna_de(buscar([&code](const Idioma& i) { return code == i.codigo; }));
}

int idioma_para_locale(const QLocale& locale) {
    const QLocale::Language l = locale.language();
    return columna_de(buscar([l](const Idioma& i) { return i.qt == l; }));
}

int captions_para_idioma(int columna) {
    const Idioma* i = idioma_de_columna(columna);
    return i ? i->numero_captions : 0;
}

std::string seccion_captions(int numero_captions) {
    const Idioma* i = idioma_de_captions(numero_captions);
    return i ? i->codigo : std::string();
}
