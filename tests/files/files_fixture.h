#pragma once
// Shared pieces of the file-selection tests: a view that records what the logic
// asks the window to show, temporary folders for the operator's files and for the
// images, and small readers and writers of line files.

#include "common/global.h"
#include "ui/files/seleccion_fichero.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

using Lineas = std::vector<std::string>;

struct RecordingView : FileSelectionView {
    std::vector<int> errors;
    std::optional<std::string> fileName, module, version;
    std::vector<bool> loadEnabled; // every call, in order
    int groupHidden = 0;

    void showFileError(int entry) override { errors.push_back(entry); }
    void setFileName(const std::string& p) override { fileName = p; }
    void setModuleText(const std::string& t) override { module = t; }
    void setVersionToLoad(const std::string& t) override { version = t; }
    void setLoadEnabled(bool e) override { loadEnabled.push_back(e); }
    void hideVersionGroup() override { ++groupHidden; }
};

class FilesTest : public ::testing::Test {
protected:
    QTemporaryDir operador; // where the operator keeps firmware files
    QTemporaryDir imagenes; // the program's image folder
    RecordingView view;

    void SetUp() override {
        ASSERT_TRUE(operador.isValid() && imagenes.isValid());
        reiniciar_estado_global();
        qputenv("VTR900_IMAGE_DIR", imagenes.path().toUtf8());
    }
    void TearDown() override {
        qunsetenv("VTR900_IMAGE_DIR");
        reiniciar_estado_global();
    }

    static std::string sample(const char* name) {
        return std::string(VTR_SOURCE_DIR) + "/samples/" + name;
    }
    std::string imagen(const std::string& name) const {
        return QDir(imagenes.path()).filePath(QString::fromStdString(name)).toStdString();
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
    // Lines of a file written by the program (any line end), nullopt when missing.
    static std::optional<Lineas> readLines(const std::string& path) {
        QFile f(QString::fromStdString(path));
        if (!f.open(QIODevice::ReadOnly))
            return std::nullopt;
        Lineas out;
        for (QByteArray l : f.readAll().split('\n')) {
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
    std::optional<Lineas> banco(int n) const {
        return readLines(imagen(n == 1 ? ID_FICHERO_BANCO1 : ID_FICHERO_BANCO2));
    }
};
