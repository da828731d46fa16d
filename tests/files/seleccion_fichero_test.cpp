// Choosing a single firmware file: header reading, classification, the bank split,
// and what Load may do afterwards.
#include "files_fixture.h"

namespace {

const std::string EOF_REC = ":00000001FF";
const std::string XA_B1 = ":020000040000FA";    // extended linear address 0x0000
const std::string XA_B2 = ":020000040001F9";    // 0x0001
const std::string ARM_0800 = ":020000040800F2"; // flash of the ARM controller
const std::string ARM_6400 = ":020000046400F6";
const std::string ARM_6401 = ":020000046401F5";
const std::string ARM_START = ":04000005080001319D";
const std::string D1 = ":0400000011223344AA";
const std::string D2 = ":04001000A1B2C3D4E2";
const std::string D3 = ":0200200055AA2F";

Lineas header(const std::string& id, const std::string& mode = "HEX") {
    return {id, "12345678", "9ABCDEF0", mode};
}
Lineas operator+(Lineas a, const Lineas& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST_F(FilesTest, IdentificationLineClassifiesTheFile) {
    struct Case {
        std::string id, mode, module, version, tipo;
        int bound; // 0: bank images written, 2: file bound to bank 2, 3: to the binary image
    };
    const Case cases[] = {
        {"FIRMVTR-900_0205", "HEX", "VTR-900_", "2.05", TIPO_FICHERO_VTR_XA, 0},
        {"FIRMVTR-900_0399", "HEX", "VTR-900_", "3.99", TIPO_FICHERO_VTR_XA, 0},
        {"FIRMVTR-900_0400", "HEX", "VTR-900_", "4.00", TIPO_FICHERO_VTR_ARM, 0},
        {"FIRMVTR-900_0410", "HEX", "VTR-900_", "4.10", TIPO_FICHERO_VTR_ARM, 0},
        {"FIRMVTR-900_1203", "HEX", "VTR-900_", "12.03", TIPO_FICHERO_VTR_ARM, 0},
        {"FIRMXYZ-100 0102", "BIN", "XYZ-100 ", "1.02", TIPO_FICHERO_MOD, 3},
        {"FIRMXYZ-100 0102", "HEX", "XYZ-100 ", "1.02", TIPO_FICHERO_MOD, 2},
        {"FIRMXYZ-100 0102", "bin", "XYZ-100 ", "1.02", TIPO_FICHERO_MOD, 2},
        {"FIRMXYZ-100 0102", "BIN ", "XYZ-100 ", "1.02", TIPO_FICHERO_MOD, 2},
        {"FIRMVTR-900_0205 extra", "HEX", "VTR-900_", "2.05", TIPO_FICHERO_VTR_XA, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.id + " / " + c.mode);
        reiniciar_estado_global();
        view = {};
        const std::string f = write("f.hex", header(c.id, c.mode) + Lineas{D1, EOF_REC});
        seleccionar_fichero(f, view);
        EXPECT_TRUE(view.errors.empty());
        EXPECT_EQ(view.fileName, f);
        EXPECT_EQ(view.module, c.module);
        EXPECT_EQ(view.version, c.version);
        EXPECT_EQ(tipo_fichero.get(), c.tipo);
        EXPECT_EQ(tipo_sw.get(), TIPO_FIRM_VTR_NONE);
        EXPECT_EQ(id_str.get(), c.id);
        EXPECT_EQ(crc1_str.get(), "12345678");
        EXPECT_EQ(crc2_str.get(), "9ABCDEF0");
        EXPECT_EQ(modo_fichero_str.get(), c.mode);
        EXPECT_EQ(fichero_origen.get(), f);
        EXPECT_EQ(fichero_banco3.get(), c.bound == 3 ? f : "");
        EXPECT_EQ(fichero_banco2.get(), c.bound == 2   ? f
                                        : c.bound == 0 ? imagen(ID_FICHERO_BANCO2)
                                                       : "");
        EXPECT_TRUE(seleccion_valida());
        EXPECT_EQ(comprobar_seleccion_para_carga(), -1);
    }
}

TEST_F(FilesTest, NoNameOrMissingFileChangesNothing) {
    const std::string good = sample("vtr900_xa_0310.hex");
    seleccionar_fichero(good, view);
    ASSERT_EQ(comprobar_seleccion_para_carga(), -1);
    const struct {
        std::string name;
        int entry;
    } cases[] = {{"", 2},
                 {operador.filePath("absent.hex").toStdString(), 1},
                 {operador.path().toStdString(), 1},
                 {"/dev/zero", 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        view = {};
        seleccionar_fichero(c.name, view);
        EXPECT_EQ(view.errors, std::vector<int>{c.entry});
        EXPECT_FALSE(view.fileName.has_value());
        EXPECT_FALSE(view.module.has_value());
        EXPECT_EQ(fichero_origen.get(), good);
        EXPECT_EQ(tipo_fichero.get(), TIPO_FICHERO_VTR_XA);
        EXPECT_EQ(comprobar_seleccion_para_carga(), -1); // the earlier file is still the one
    }
}

// After a rejected file the name on screen is the new one, so nothing of the earlier
// file may be loaded any more.
TEST_F(FilesTest, RejectedHeaderClearsTheEarlierSelection) {
    std::string garbage(64 * 1024, '\0');
    for (std::size_t i = 0; i < garbage.size(); ++i)
        garbage[i] = static_cast<char>(0x80 + (i * 37) % 0x80);
    const struct {
        const char* what;
        std::string bytes;
    } cases[] = {
        {"empty file", ""},
        {"empty first line", "\nFIRMVTR-900_0205\nx\nHEX\n" + D1 + "\n"},
        {"neither marker", "HELLO WORLD\na\nb\nc\n"},
        {"FIRM too short", "FIRMVTR-900_02\na\nb\nc\n" + D1 + "\n"},
        {"lower case", "firmvtr-900_0205\na\nb\nc\n"},
        {"binary garbage", garbage},
        {"endless first line", "FIRMVTR-900_0205" + std::string(2 * 1024 * 1024, 'A')},
        {"endless module record", "FIRMXYZ-100 0102\na\nb\nHEX\n" + std::string(5000, '0') + "\n"},
        {"endless record",
         "FIRMVTR-900_0205\na\nb\nc\n" + std::string(5000, '0') + "\n" + EOF_REC + "\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        seleccionar_fichero(sample("vtr900_arm_0412.hex"), view);
        ASSERT_EQ(comprobar_seleccion_para_carga(), -1);
        view = {};
        const std::string f = writeRaw("bad.hex", c.bytes);
        seleccionar_fichero(f, view);
        EXPECT_EQ(view.errors, std::vector<int>{0});
        EXPECT_EQ(view.fileName, f);
        EXPECT_EQ(view.module, "");
        EXPECT_EQ(view.version, "");
        EXPECT_EQ(tipo_sw.get(), TIPO_FIRM_VTR_NONE);
        EXPECT_EQ(tipo_fichero.get(), "");
        EXPECT_FALSE(seleccion_valida());
        EXPECT_EQ(comprobar_seleccion_para_carga(), 0);
        EXPECT_FALSE(banco(1).has_value());
        EXPECT_FALSE(banco(2).has_value());
    }
}

TEST_F(FilesTest, ShortFileLeavesMissingHeaderLinesEmpty) {
    seleccionar_fichero(write("short.hex", {"FIRMVTR-900_0205", "AAAA"}), view);
    EXPECT_TRUE(view.errors.empty());
    EXPECT_EQ(id_str.get(), "FIRMVTR-900_0205");
    EXPECT_EQ(crc1_str.get(), "AAAA");
    EXPECT_EQ(crc2_str.get(), "");
    EXPECT_EQ(modo_fichero_str.get(), "");
    EXPECT_EQ(banco(1), Lineas{});
    EXPECT_EQ(banco(2), Lineas{});
    EXPECT_EQ(size_tele.load(), 0);
}

TEST_F(FilesTest, RecordsAreSplitIntoTheTwoBanks) {
    struct Case {
        const char* what;
        std::string id;
        Lineas records, bank1, bank2;
        int size; // characters of the lines read after the header
    };
    const Case cases[] = {
        {"XA never switching",
         "FIRMVTR-900_0205",
         {D1, D2, EOF_REC},
         {D1, D2, EOF_REC},
         {EOF_REC},
         0},
        {"XA both banks",
         "FIRMVTR-900_0205",
         {D1, XA_B1, D2, XA_B2, D3, XA_B1, D1, EOF_REC},
         {D1, XA_B1, D2, XA_B1, D1, EOF_REC},
         {XA_B2, D3, EOF_REC},
         0},
        {"XA ignores ARM records",
         "FIRMVTR-900_0310",
         {ARM_6401, D1, ARM_START, EOF_REC},
         {ARM_6401, D1, ARM_START, EOF_REC},
         {EOF_REC},
         0},
        {"ARM with start record",
         "FIRMVTR-900_0412",
         {ARM_0800, D1, ARM_6401, D2, ARM_START, EOF_REC},
         {ARM_0800, D1, ARM_START, EOF_REC},
         {ARM_6401, D2, EOF_REC},
         0},
        {"ARM back to bank 1 and XA records ignored",
         "FIRMVTR-900_1203",
         {ARM_6401, D1, ARM_6400, D2, XA_B2, D3, EOF_REC},
         {ARM_6400, D2, XA_B2, D3, EOF_REC},
         {ARM_6401, D1, EOF_REC},
         0},
        {"no end record", "FIRMVTR-900_0205", {D1, XA_B2, D2}, {D1}, {XA_B2, D2}, 0},
        {"lower-case end record",
         "FIRMVTR-900_0205",
         {D1, ":00000001ff", D2},
         {D1, ":00000001ff", D2},
         {},
         0},
        {"padded end record",
         "FIRMVTR-900_0205",
         {D1, EOF_REC + " ", XA_B2, D2},
         {D1, EOF_REC + " "},
         {XA_B2, D2},
         0},
        {"lines after the end record",
         "FIRMVTR-900_0205",
         {D1, EOF_REC, XA_B2, D2},
         {D1, EOF_REC},
         {EOF_REC},
         totalLength({D1, EOF_REC})},
    };
    for (const Case& c : cases) {
        for (const std::string eol : {"\n", "\r\n", "\r"}) {
            SCOPED_TRACE(std::string(c.what) + (eol == "\n"   ? " LF"
                                                : eol == "\r" ? " CR"
                                                              : " CRLF"));
            view = {};
            seleccionar_fichero(write("unit.hex", header(c.id) + c.records, eol), view);
            EXPECT_TRUE(view.errors.empty());
            EXPECT_EQ(banco(1), c.bank1);
            EXPECT_EQ(banco(2), c.bank2);
            EXPECT_EQ(size_tele.load(), c.size ? c.size : totalLength(c.records));
            EXPECT_EQ(fichero_banco1.get(), imagen(ID_FICHERO_BANCO1));
        }
    }
}

TEST_F(FilesTest, ModuleFileSizeIsWhatTheTransferSends) {
    // A HEX module file is sent whole, header lines included; a binary one from the
    // byte after its header.
    seleccionar_fichero(sample("module_xyz100_0102.hex"), view);
    EXPECT_EQ(size_tele.load(), totalLength(*readLines(sample("module_xyz100_0102.hex"))));
    seleccionar_fichero(sample("module_xyz100_0102.bin"), view);
    EXPECT_EQ(tipo_fichero.get(), TIPO_FICHERO_MOD);
    EXPECT_EQ(fichero_banco3.get(), sample("module_xyz100_0102.bin"));
    EXPECT_EQ(size_tele.load(), 1500);
}

TEST_F(FilesTest, ImagesNeverLandNextToTheOperatorsFile) {
    qunsetenv("VTR900_IMAGE_DIR");
    // Keep the user's own cache out of the test (where the platform honours this).
    const QByteArray cache = qgetenv("XDG_CACHE_HOME");
    qputenv("XDG_CACHE_HOME", imagenes.path().toUtf8());
    const std::string f = write("unit.hex", header("FIRMVTR-900_0205") + Lineas{D1, EOF_REC});
    seleccionar_fichero(f, view);
    ASSERT_TRUE(view.errors.empty());
    const QString carpeta = QString::fromStdString(carpeta_imagenes());
    EXPECT_TRUE(carpeta.endsWith(QStringLiteral("vtr900prog")));
    EXPECT_EQ(fichero_banco1.get(), QDir(carpeta).filePath("FIRMB1.HEX").toStdString());
    EXPECT_TRUE(readLines(fichero_banco1.get()).has_value());
    EXPECT_EQ(QDir(operador.path()).entryList(QDir::Files), QStringList{"unit.hex"});
    EXPECT_NE(QDir(carpeta), QDir::current());
    if (cache.isEmpty())
        qunsetenv("XDG_CACHE_HOME");
    else
        qputenv("XDG_CACHE_HOME", cache);
}

TEST_F(FilesTest, UnwritableImageFolderFailsCleanly) {
    seleccionar_fichero(sample("vtr900_xa_0310.hex"), view);
    ASSERT_EQ(comprobar_seleccion_para_carga(), -1);
    // A folder below a plain file can be neither created nor written, even by root.
    const std::string plain = writeRaw("plain", "x");
    qputenv("VTR900_IMAGE_DIR", QByteArray::fromStdString(plain + "/images"));
    for (const char* s : {"vtr900_arm_0412.hex", "vtr900_joint.hex"}) {
        SCOPED_TRACE(s);
        view = {};
        tipo_vtr = TIPO_VTR_ARM;
        seleccionar_fichero(sample(s), view);
        EXPECT_EQ(view.errors, std::vector<int>{0});
        EXPECT_FALSE(seleccion_valida());
        EXPECT_EQ(comprobar_seleccion_para_carga(), 0);
        EXPECT_NE(ultimo_error_fichero(), "");
        EXPECT_EQ(vtr_ARM_version.get(), "");
    }
}

TEST_F(FilesTest, DialogStartsInTheProgramsFolder) {
    const struct {
        std::string program, folder;
    } cases[] = {
        {"C:\\Program Files\\VTR\\VTR900PROG.EXE", "C:\\Program Files\\VTR\\"},
        {"/opt/vtr/vtr900prog.exe", "/opt/vtr/"},
        {"/opt/vtr/vtr900prog", ""},
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(carpeta_inicial_dialogo(c.program), c.folder) << c.program;
}

} // namespace
