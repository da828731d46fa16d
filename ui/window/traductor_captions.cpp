#include "ui/window/traductor_captions.h"

#include "common/idiomas.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QSettings>
#include <QTabWidget>
#include <QWidget>

QString TraductorCaptions::seccion(int idiomaCaptions) {
    return QString::fromStdString(seccion_captions(idiomaCaptions));
}

bool TraductorCaptions::cargar(const QString& fichero, int idiomaCaptions) {
    captions_.clear();
    const QString sec = seccion(idiomaCaptions);
    if (sec.isEmpty() || !QFileInfo(fichero).isFile())
        return false;
    QSettings ini(fichero, QSettings::IniFormat);
    if (ini.status() != QSettings::NoError)
        return false;
    if (!ini.childGroups().contains(sec))
        return false;
    ini.beginGroup(sec);
    for (const QString& clave : ini.childKeys()) {
        const QVariant v = ini.value(clave);
        // An unquoted value with a comma reads as a list: a caption is one text.
        if (v.userType() == QMetaType::QString)
            captions_.insert(clave, v.toString());
    }
    ini.endGroup();
    return !captions_.isEmpty();
}

namespace {

// A tab page's caption is its tab's text.
bool fijarTextoPestana(QWidget* w, const QString& texto) {
    for (QWidget* p = w->parentWidget(); p; p = p->parentWidget()) {
        if (auto* tabs = qobject_cast<QTabWidget*>(p)) {
            const int i = tabs->indexOf(w);
            if (i < 0)
                return false;
            tabs->setTabText(i, texto);
            return true;
        }
    }
    return false;
}

bool fijarCaption(QWidget* w, const QString& texto) {
    if (auto* g = qobject_cast<QGroupBox*>(w)) {
        g->setTitle(texto);
        return true;
    }
    if (auto* b = qobject_cast<QAbstractButton*>(w)) {
        b->setText(texto);
        return true;
    }
    if (auto* l = qobject_cast<QLabel*>(w)) {
        l->setText(texto);
        return true;
    }
    if (auto* c = qobject_cast<QComboBox*>(w)) { // a list's caption is the text it shows empty
        c->setPlaceholderText(texto);
        return true;
    }
    return fijarTextoPestana(w, texto);
}

} // namespace

int TraductorCaptions::aplicar(QWidget* raiz) const {
    if (!raiz || captions_.isEmpty())
        return 0;
    QList<QWidget*> widgets = raiz->findChildren<QWidget*>();
    widgets.prepend(raiz);
    int n = 0;
    for (QWidget* w : widgets) {
        const QString nombre = w->objectName();
        if (nombre.isEmpty())
            continue;
        if (auto it = captions_.constFind(nombre); it != captions_.cend() && fijarCaption(w, *it))
            ++n;
        if (auto it = captions_.constFind(nombre + QStringLiteral(".toolTip"));
            it != captions_.cend()) {
            w->setToolTip(*it);
            ++n;
        }
        if (auto it = captions_.constFind(nombre + QStringLiteral(".accessibleName"));
            it != captions_.cend()) {
            w->setAccessibleName(*it);
            ++n;
        }
    }
    return n;
}
