// Choosing a single firmware file: header reading, classification, the bank split,
// and what Load may do afterwards.
#include "files_fixture.h"
#include "support/hex_records.h"

namespace {

const std::string EOF_REC = ":00000001FF";
const std::string XA_B1 = hexExtendedLinear(0x0000);
const std::string XA_B2 = hexExtendedLinear(0x0001);
const std::string ARM_0800 = hexExtendedLinear(0x0800); // flash of the ARM controller
const std::string ARM_6400 = hexExtendedLinear(0x6400);
const std::string ARM_6401 = hexExtendedLinear(0x6401);
const std::string ARM_START = hexRecord(0x05, 0, {0x08, 0x00, 0x01, 0x31});
const std::string D1 = hexRecord(0x00, 0x0000, {0x11, 0x22, 0x33, 0x44});
const std::string D2 = hexRecord(0x00, 0x0010, {0xA1, 0xB2, 0xC3, 0xD4});
const std::string D3 = hexRecord(0x00, 0x0020, {0x55, 0xAA});

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
        view = {};
        sel = {};
        // ARM flash starts at 0x08000000: its image opens with that extended address.
        const Lineas records =
            c.tipo == TIPO_FICHERO_VTR_ARM ? Lineas{ARM_0800, D1, EOF_REC} : Lineas{D1, EOF_REC};
        const std::string f = write("f.hex", header(c.id, c.mode) + records);
        select(f);
        EXPECT_TRUE(view.errors.empty());
        EXPECT_EQ(view.fileName, f);
        EXPECT_EQ(view.module, c.module);
        EXPECT_EQ(view.version, c.version);
        EXPECT_EQ(sel.tipo_fichero, c.tipo);
        EXPECT_FALSE(sel.joint);
        EXPECT_EQ(sel.id, c.id);
        EXPECT_EQ(sel.crc1, "12345678");
        EXPECT_EQ(sel.crc2, "9ABCDEF0");
        EXPECT_EQ(sel.modo, c.mode);
        EXPECT_EQ(sel.ruta, f);
        EXPECT_EQ(sel.binario, c.bound == 3);
        // A module file is sent whole, from what was read at selection.
        if (c.bound != 0)
            EXPECT_EQ(sel.banco2, *readRaw(f));
        else
            EXPECT_EQ(banco(1), records);
        EXPECT_TRUE(sel.valida);
        EXPECT_EQ(loadCheck(), -1);
        const TrabajoCarga t = job(TIPO_VTR_NONE);
        EXPECT_EQ(t.tipo_fichero, c.tipo);
        EXPECT_EQ(t.id, c.id);
        EXPECT_EQ(t.binario, c.mode == "BIN");
        EXPECT_EQ(t.banco2, sel.banco2);
    }
}

TEST_F(FilesTest, NoNameOrMissingFileChangesNothing) {
    const std::string good = sample("vtr900_xa_0310.hex");
    select(good);
    ASSERT_EQ(loadCheck(), -1);
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
        select(c.name);
        EXPECT_EQ(view.errors, std::vector<int>{c.entry});
        EXPECT_FALSE(view.fileName.has_value());
        EXPECT_FALSE(view.module.has_value());
        EXPECT_EQ(sel.ruta, good);
        EXPECT_EQ(sel.tipo_fichero, TIPO_FICHERO_VTR_XA);
        EXPECT_EQ(loadCheck(), -1); // the earlier file is still the one
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
        select(sample("vtr900_arm_0412.hex"));
        ASSERT_EQ(loadCheck(), -1);
        view = {};
        const std::string f = writeRaw("bad.hex", c.bytes);
        select(f);
        EXPECT_EQ(view.errors, std::vector<int>{0});
        ASSERT_EQ(view.reasons.size(), 1u);
        EXPECT_NE(view.reasons[0], "");
        EXPECT_EQ(view.fileName, f);
        EXPECT_EQ(view.module, "");
        EXPECT_EQ(view.version, "");
        EXPECT_FALSE(sel.joint);
        EXPECT_EQ(sel.tipo_fichero, "");
        EXPECT_FALSE(sel.valida);
        EXPECT_EQ(loadCheck(), 0);
        EXPECT_EQ(sel.banco1, "");
        EXPECT_EQ(sel.banco2, "");
    }
}

// A file that ends inside its header lines holds no image: it is incomplete.
TEST_F(FilesTest, ShortFileIsRefusedAsIncomplete) {
    idioma_actual_texto = 2;
    for (const char* id : {"FIRMXYZ-100 0102", "FIRMVTR-900_0205"}) {
        SCOPED_TRACE(id);
        select(sample("vtr900_xa_0310.hex"));
        view = {};
        select(write("short.hex", {id, "AAAA"}));
        EXPECT_EQ(view.errors, std::vector<int>{0});
        ASSERT_EQ(view.reasons.size(), 1u);
        EXPECT_EQ(view.reasons[0], "short.hex: no end record (the file is incomplete)");
        EXPECT_FALSE(sel.valida);
        EXPECT_EQ(sel.id, "");
        EXPECT_EQ(banco(1), Lineas{});
        EXPECT_EQ(banco(2), Lineas{});
        EXPECT_EQ(loadCheck(), 0);
    }
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
        {"ARM with start record",
         "FIRMVTR-900_0412",
         {ARM_0800, D1, ARM_6401, D2, ARM_START, EOF_REC},
         {ARM_0800, D1, ARM_START, EOF_REC},
         {ARM_6401, D2, EOF_REC},
         0},
        {"ARM back to bank 1",
         "FIRMVTR-900_1203",
         {ARM_6401, D1, ARM_6400, D2, EOF_REC},
         {ARM_6400, D2, EOF_REC},
         {ARM_6401, D1, EOF_REC},
         0},
        {"lower-case end record",
         "FIRMVTR-900_0205",
         {D1, ":00000001ff"},
         {D1, EOF_REC},
         {EOF_REC},
         0},
        {"padded end record", "FIRMVTR-900_0205", {D1, EOF_REC + " "}, {D1, EOF_REC}, {EOF_REC}, 0},
        {"blank lines",
         "FIRMVTR-900_0205",
         {D1, "", D2, " ", EOF_REC},
         {D1, D2, EOF_REC},
         {EOF_REC},
         0},
    };
    for (const Case& c : cases) {
        for (const std::string eol : {"\n", "\r\n", "\r"}) {
            SCOPED_TRACE(std::string(c.what) + (eol == "\n"   ? " LF"
                                                : eol == "\r" ? " CR"
                                                              : " CRLF"));
            view = {};
            select(write("unit.hex", header(c.id) + c.records, eol));
            EXPECT_TRUE(view.errors.empty());
            EXPECT_EQ(banco(1), c.bank1);
            EXPECT_EQ(banco(2), c.bank2);
            EXPECT_EQ(sel.size_tele, c.size ? c.size : totalLength(c.records));
            // The load gets exactly these images.
            const TrabajoCarga t = job(TIPO_VTR_NONE);
            EXPECT_EQ(t.banco1, sel.banco1);
            EXPECT_EQ(t.banco2, sel.banco2);
            EXPECT_EQ(t.size_tele, sel.size_tele);
        }
    }
}

// A damaged image is refused when it is chosen, before anything reaches the unit,
// with the line and what is wrong with it; the earlier selection is gone.
TEST_F(FilesTest, DamagedImagesAreRefusedWithTheirLine) {
    idioma_actual_texto = 2; // the reasons in English
    std::string nonHex = D1;
    nonHex[12] = 'G';
    std::string badSum = D1;
    badSum.replace(badSum.size() - 2, 2, "00");
    const struct {
        const char* what;
        std::string id;
        Lineas records;
        std::string reason; // part of the reason given
    } cases[] = {
        {"wrong checksum", "FIRMVTR-900_0205", {D1, badSum, EOF_REC}, "line 6: checksum is 00"},
        {"non-hex digit", "FIRMVTR-900_0205", {nonHex, EOF_REC}, "line 5: character 'G'"},
        {"count longer than the line",
         "FIRMVTR-900_0205",
         {D1, ":08000000112233449C", EOF_REC},
         "line 6: byte count 08"},
        {"NUL byte in a record",
         "FIRMVTR-900_0205",
         {D1, std::string(":04001000A1B2") + '\0' + "3D4E2", EOF_REC},
         "line 6: "},
        {"missing end record", "FIRMVTR-900_0205", {D1, XA_B2, D2}, "no end record"},
        {"file cut inside a record", "FIRMVTR-900_0205", {D1, D2.substr(0, 12)}, "line 6: "},
        {"lines after the end record",
         "FIRMVTR-900_0205",
         {D1, EOF_REC, XA_B2, D2},
         "line 7: record after the end record"},
        {"second end record", "FIRMVTR-900_0205", {D1, EOF_REC, EOF_REC}, "line 7: "},
        {"conflicting overlap",
         "FIRMVTR-900_0205",
         {D1, D2, hexRecord(0x00, 0x0002, {0x33, 0x45}), EOF_REC},
         "line 7: the byte at address 0x00000003 differs from the one on line 5"},
        {"unknown record type",
         "FIRMVTR-900_0205",
         {D1, hexRecord(0x06, 0, {}), EOF_REC},
         "line 6: unknown record type 06"},
        {"ARM data before any extended address",
         "FIRMVTR-900_0412",
         {D1, ARM_0800, D2, ARM_START, EOF_REC},
         "line 5: address 0x00000000 is outside the controller's memory"},
        {"ARM data after an XA address",
         "FIRMVTR-900_0412",
         {ARM_0800, D1, XA_B2, D3, EOF_REC},
         "line 8: address 0x00010020 is outside"},
        {"XA data outside its 64 KiB",
         "FIRMVTR-900_0310",
         {ARM_6401, D1, ARM_START, EOF_REC},
         "line 6: address 0x"},
        {"module HEX with a wrong checksum", "FIRMXYZ-100 0102", {badSum, EOF_REC}, "line 5: "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        select(sample("vtr900_arm_0412.hex"));
        ASSERT_EQ(loadCheck(), -1);
        view = {};
        select(write("damaged.hex", header(c.id) + c.records));
        EXPECT_EQ(view.errors, std::vector<int>{0});
        ASSERT_EQ(view.reasons.size(), 1u);
        EXPECT_EQ(view.reasons[0].rfind("damaged.hex: ", 0), 0u) << view.reasons[0];
        EXPECT_NE(view.reasons[0].find(c.reason), std::string::npos) << view.reasons[0];
        EXPECT_FALSE(sel.valida);
        EXPECT_EQ(sel.banco1, "");
        EXPECT_EQ(sel.banco2, "");
        EXPECT_EQ(loadCheck(TIPO_VTR_ARM), 0);
        EXPECT_EQ(job(TIPO_VTR_ARM).banco1, "");
    }
}

TEST_F(FilesTest, ModuleFileSizeIsWhatTheTransferSends) {
    // A HEX module file is sent whole, header lines included; a binary one from the
    // byte after its header.
    select(sample("module_xyz100_0102.hex"));
    EXPECT_EQ(sel.size_tele, totalLength(*readLines(sample("module_xyz100_0102.hex"))));
    select(sample("module_xyz100_0102.bin"));
    EXPECT_EQ(sel.tipo_fichero, TIPO_FICHERO_MOD);
    EXPECT_TRUE(sel.binario);
    EXPECT_EQ(sel.banco2, *readRaw(sample("module_xyz100_0102.bin")));
    EXPECT_EQ(sel.size_tele, 1500);
}

// A module file is read once, when it is chosen: what Load sends is what was
// checked and measured, whatever becomes of the file afterwards.
TEST_F(FilesTest, ModuleFileReplacedAfterSelectionIsNotWhatIsLoaded) {
    const Lineas module = header("FIRMXYZ-100 0102") + Lineas{D1, EOF_REC};
    const std::string f = write("m.hex", module);
    select(f);
    const std::string chosen = *readRaw(f);
    write("m.hex", header("FIRMXYZ-100 0999") + Lineas{D2, D3, EOF_REC});
    const TrabajoCarga t = job(TIPO_VTR_ARM);
    EXPECT_EQ(t.id, "FIRMXYZ-100 0102");
    EXPECT_EQ(t.banco2, chosen);
    EXPECT_EQ(t.size_tele, totalLength(module));
}

// The bank images live in the selection: nothing is written next to the operator's
// file, into the current folder or into a folder shared with other processes, so a
// folder that cannot be written does not matter.
TEST_F(FilesTest, ImagesNeverLandOnDisk) {
    QTemporaryDir cache;
    const QByteArray cacheAntes = qgetenv("XDG_CACHE_HOME");
    qputenv("XDG_CACHE_HOME", cache.path().toUtf8());
    const std::string plain = writeRaw("plain", "x");
    qputenv("VTR900_IMAGE_DIR", QByteArray::fromStdString(plain + "/images"));
    const QStringList antes = QDir::current().entryList(QDir::Files);
    for (const char* s : {"vtr900_arm_0412.hex", "vtr900_joint.hex"}) {
        SCOPED_TRACE(s);
        view = {};
        const std::string f = operador.filePath(s).toStdString();
        ASSERT_TRUE(QFile::copy(QString::fromStdString(sample(s)), QString::fromStdString(f)));
        select(f, TIPO_VTR_ARM);
        EXPECT_TRUE(view.errors.empty());
        EXPECT_EQ(loadCheck(TIPO_VTR_ARM), -1);
        EXPECT_NE(job(TIPO_VTR_ARM).banco1, "");
    }
    EXPECT_EQ(QDir(operador.path()).entryList(QDir::Files),
              (QStringList{"plain", "vtr900_arm_0412.hex", "vtr900_joint.hex"}));
    EXPECT_EQ(QDir(cache.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList{});
    EXPECT_EQ(QDir::current().entryList(QDir::Files), antes);
    qunsetenv("VTR900_IMAGE_DIR");
    if (cacheAntes.isEmpty())
        qunsetenv("XDG_CACHE_HOME");
    else
        qputenv("XDG_CACHE_HOME", cacheAntes);
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
