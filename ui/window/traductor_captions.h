#pragma once
// The caption translator: sets the captions of a window's controls from the
// dictionary "vtr900prog.mld", an INI file with one section per language whose keys
// are the controls' object names. A control without an entry, a missing section and
// a missing or unreadable dictionary all keep the form's own captions.

#include <QHash>
#include <QString>

class QWidget;

class TraductorCaptions {
public:
    // Caption languages as the window numbers them: 1 English, 2 French, 3 Spanish,
    // 4 Italian. Returns the dictionary section of one ("" for any other number).
    static QString seccion(int idiomaCaptions);

    // Reads the captions of one language. False (and no captions) when the file is
    // missing, cannot be parsed or has no such section.
    bool cargar(const QString& fichero, int idiomaCaptions);
    bool cargado() const { return !captions_.isEmpty(); }
    int numeroCaptions() const { return captions_.size(); }

    // Sets the captions on the descendants of raiz (and raiz itself). Returns how
    // many properties were set.
    int aplicar(QWidget* raiz) const;

private:
    QHash<QString, QString> captions_; // "Name" or "Name.property" -> text
};
