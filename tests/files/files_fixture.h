#pragma once
// Shared pieces of the file-selection tests: a view that records what the logic
// asks the window to show, the selection it produces, a temporary folder for the
// operator's files, and small readers and writers of line files.

#include "common/global.h"
#include "files/preparar_carga.h"
#include "files/seleccion_fichero.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

using Lineas = std::vector<std::string>;

struct RecordingView : FileSelectionView {
    std::vector<int> errors;          // message-table entries
    std::vector<std::string> reasons; // what each error said beside its entry
    std::optional<std::string> fileName, module, version;
    std::vector<bool> loadEnabled; // every call, in order
    int groupHidden = 0;

    void showFileError(Mensaje entry, const std::string& why) override {
        errors.push_back(static_cast<int>(entry));
        reasons.push_back(why);
    }
    void setFileName(const std::string& p) override { fileName = p; }
    void setModuleText(const std::string& t) override { module = t; }
    void setVersionToLoad(const std::string& t) override { version = t; }
    void setLoadEnabled(bool e) override { loadEnabled.push_back(e); }
    void hideVersionGroup() override { ++groupHidden; }
};

class FilesTest : public ::testing::Test {
protected:
    QTemporaryDir operador; // where the operator keeps firmware files
    RecordingView view;
    SeleccionFichero sel; // what the selection produced, kept from one choice to the next

    void SetUp() override {
        ASSERT_TRUE(operador.isValid());
        reiniciar_estado_global();
    }
    void TearDown() override { reiniciar_estado_global(); }

    // The operator chooses nombre with a unit of kind unidad on the port.
    void select(const std::string& nombre, const std::string& unidad = TIPO_VTR_NONE) {
        seleccionar_fichero(nombre, unidad, sel, view);
    }
    // What Load would do with the selection: -1 when it loads, else the entry shown.
    int loadCheck(const std::string& unidad = TIPO_VTR_NONE,
                  EleccionXa eleccion = EleccionXa::Ninguna) const {
        TrabajoCarga t;
        const auto r = preparar_carga(sel, unidad, eleccion, t);
        return r ? static_cast<int>(*r) : -1;
    }
    // The load Load would hand to the worker (empty when it refuses).
    TrabajoCarga job(const std::string& unidad, EleccionXa eleccion = EleccionXa::Ninguna) const {
        TrabajoCarga t;
        if (preparar_carga(sel, unidad, eleccion, t))
            return {};
        return t;
    }

    static std::string sample(const char* name) {
        return std::string(VTR_SOURCE_DIR) + "/samples/" + name;
    }
    std::string writeRaw(const std::string& name, const std::string& bytes) const {
        const QString path = QDir(operador.path()).filePath(QString::fromStdString(name));
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes.data(), static_cast<qint64>(bytes.size()));
        return path.toStdString();
    }
    std::string write(const std::string& name, const Lineas& lines,
                      const std::string& eol = "\n") const {
        std::string bytes;
        for (const auto& l : lines)
            bytes += l + eol;
        return writeRaw(name, bytes);
    }
    // Lines of a file (any line end), nullopt when missing.
    static std::optional<Lineas> readLines(const std::string& path) {
        QFile f(QString::fromStdString(path));
        if (!f.open(QIODevice::ReadOnly))
            return std::nullopt;
        return splitLines(f.readAll().toStdString());
    }
    // Bytes of a file, nullopt when missing.
    static std::optional<std::string> readRaw(const std::string& path) {
        QFile f(QString::fromStdString(path));
        if (!f.open(QIODevice::ReadOnly))
            return std::nullopt;
        return f.readAll().toStdString();
    }
    // Lines of a text held in memory (a bank image).
    static Lineas splitLines(const std::string& text) {
        Lineas out;
        for (QByteArray l : QByteArray::fromStdString(text).split('\n')) {
            if (l.endsWith('\r'))
                l.chop(1);
            out.push_back(l.toStdString());
        }
        if (!out.empty() && out.back().empty())
            out.pop_back(); // after the last line end
        return out;
    }
    static int totalLength(const Lineas& l) {
        int n = 0;
        for (const auto& x : l)
            n += static_cast<int>(x.size());
        return n;
    }
    Lineas banco(int n) const { return splitLines(n == 1 ? sel.banco1 : sel.banco2); }
};
