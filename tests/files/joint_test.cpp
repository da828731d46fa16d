// Joint files: the split into six images and the choice of the image to load.
#include "common/intel_hex.h"
#include "files_fixture.h"
#include "support/hex_records.h"

namespace {

const std::string EOF_REC = ":00000001FF";
const std::string XA_B1 = hexExtendedLinear(0x0000);
const std::string XA_B2 = hexExtendedLinear(0x0001);
const std::string ARM_0800 = hexExtendedLinear(0x0800);
const std::string ARM_6401 = hexExtendedLinear(0x6401);
const std::string ARM_START = hexRecord(0x05, 0, {0x08, 0x00, 0x01, 0x31});
const std::string D1 = hexRecord(0x00, 0x0000, {0x11, 0x22, 0x33, 0x44});
const std::string D2 = hexRecord(0x00, 0x0010, {0xA1, 0xB2, 0xC3, 0xD4});

Lineas operator+(Lineas a, const Lineas& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
Lineas section(const std::string& marker, const Lineas& records) {
    return Lineas{marker, "00000000", "11111111", "HEX"} + records;
}
const Lineas JOINT_HEADER = {"VTR-JOINT", "x", "y", "z"};
const Lineas I2C = {XA_B1, D1, XA_B2, D2, EOF_REC};
const Lineas CLASSA = {D2, D1, EOF_REC};
const Lineas ARM = {ARM_0800, D1, ARM_6401, D2, ARM_START, EOF_REC};

struct Images {
    std::optional<Lineas> files[6];
    bool operator==(const Images&) const = default;
};

class JointTest : public FilesTest {
protected:
    // Bank 1 and bank 2 of the I2C, CLASS A and ARM images; none after a failure.
    Images images() const {
        Images r;
        if (!sel.valida)
            return r;
        for (int i = 0; i < 6; ++i) {
            const ImagenJoint& im = sel.imagenes[static_cast<size_t>(i / 2)];
            r.files[i] = splitLines(i % 2 == 0 ? im.banco1 : im.banco2);
        }
        return r;
    }
    const ImagenJoint& image(ImagenUnidad k) const { return sel.imagen(k); }
    // What the loader will be given: every bank that is not empty is an image the
    // Intel HEX reader accepts whole (one end record, at the end).
    void expect_banks_read_whole() const {
        for (const ImagenJoint& im : sel.imagenes)
            for (const std::string* banco : {&im.banco1, &im.banco2}) {
                if (banco->empty())
                    continue;
                intel_hex::Imagen img;
                intel_hex::Fallo f;
                EXPECT_TRUE(intel_hex::leer_imagen(*banco, img, f))
                    << im.id << ": " << intel_hex::describir(f, 2) << "\n"
                    << *banco;
            }
    }
    void choose(const std::string& f, const std::string& unit = TIPO_VTR_ARM) {
        view = {};
        select(f, unit);
        ASSERT_TRUE(view.errors.empty()) << view.errors.front();
        ASSERT_TRUE(sel.joint);
    }
};

TEST_F(JointTest, SampleIsSplitIntoItsThreeImages) {
    // The ARM image of the joint sample is the single ARM sample; both splits must agree.
    select(sample("vtr900_arm_0412.hex"));
    const auto single1 = banco(1), single2 = banco(2);
    const int singleSize = sel.size_tele;

    choose(sample("vtr900_joint.hex"));
    EXPECT_EQ(view.module, "VTR-900");
    EXPECT_EQ(image(ImagenUnidad::I2C).version, "2.05");
    EXPECT_EQ(image(ImagenUnidad::ClassA).version, "3.06");
    EXPECT_EQ(image(ImagenUnidad::Arm).version, "4.12");
    EXPECT_EQ(image(ImagenUnidad::I2C).id, "FIRMVTR-900_0205");
    EXPECT_EQ(image(ImagenUnidad::ClassA).id, "FIRMVTR-900_0306");
    EXPECT_EQ(image(ImagenUnidad::Arm).id, "FIRMVTR-900_0412");
    for (const ImagenJoint& i : sel.imagenes)
        EXPECT_TRUE(i.presente);
    const Images im = images();
    EXPECT_EQ(im.files[4], single1);
    EXPECT_EQ(im.files[5], single2);
    EXPECT_EQ(image(ImagenUnidad::Arm).size_tele, singleSize);
    // The XA images have a section header of four lines that the sizes leave out.
    for (int k : {0, 2}) {
        ASSERT_TRUE(im.files[k] && im.files[k + 1]);
        ASSERT_GE(im.files[k]->size(), 2u);
        EXPECT_EQ(im.files[k]->back(), EOF_REC);
        EXPECT_NE((*im.files[k])[im.files[k]->size() - 2], EOF_REC) << "section ends in bank 2";
        EXPECT_EQ(im.files[k + 1]->back(), EOF_REC);
        const int size = sel.imagenes[static_cast<size_t>(k / 2)].size_tele;
        EXPECT_EQ(size, totalLength(*im.files[k]) + totalLength(*im.files[k + 1]) -
                            static_cast<int>(EOF_REC.size()));
    }
}

TEST_F(JointTest, SectionOrderDoesNotMatter) {
    const Lineas i2c = section("FIRMVTR-900_0205", I2C), cla = section("FIRMVTR-900_0306", CLASSA),
                 arm = section("FIRMVTR-900_0412", ARM);
    choose(write("a.hex", JOINT_HEADER + i2c + cla + arm));
    const Images first = images();
    auto versions = [&] {
        return image(ImagenUnidad::I2C).version + image(ImagenUnidad::ClassA).version +
               image(ImagenUnidad::Arm).version;
    };
    const std::string before = versions();
    const int sizes[3] = {image(ImagenUnidad::I2C).size_tele, image(ImagenUnidad::ClassA).size_tele,
                          image(ImagenUnidad::Arm).size_tele};

    choose(write("b.hex",
                 JOINT_HEADER + Lineas{"junk between"} + arm + Lineas{"more junk"} + cla + i2c));
    EXPECT_EQ(images(), first);
    EXPECT_EQ(versions(), before);
    EXPECT_EQ(image(ImagenUnidad::I2C).size_tele, sizes[0]);
    EXPECT_EQ(image(ImagenUnidad::ClassA).size_tele, sizes[1]);
    EXPECT_EQ(image(ImagenUnidad::Arm).size_tele, sizes[2]);
    EXPECT_EQ(sizes[0], totalLength(I2C)); // marker and header lines not counted
    EXPECT_EQ(sizes[2], totalLength(ARM));
}

TEST_F(JointTest, EndRecordsAtTheEndsOfTheBankFiles) {
    struct Case {
        const char* what;
        std::string marker;
        Lineas records, bank1, bank2;
    };
    const Case cases[] = {
        {"XA never in bank 2", "FIRMVTR-900_0205", {D1, D2, EOF_REC}, {D1, D2, EOF_REC}, {}},
        {"XA ending in bank 2",
         "FIRMVTR-900_0306",
         {XA_B1, D1, XA_B2, D2, EOF_REC},
         {XA_B1, D1, EOF_REC},
         {XA_B2, D2, EOF_REC}},
        {"ARM ending with its start record",
         "FIRMVTR-900_0412",
         ARM,
         {ARM_0800, D1, ARM_START, EOF_REC},
         {ARM_6401, D2, EOF_REC}},
        {"ARM ending in bank 2",
         "FIRMVTR-900_0412",
         {ARM_0800, D1, ARM_6401, D2, EOF_REC},
         {ARM_0800, D1, EOF_REC},
         {ARM_6401, D2, EOF_REC}},
        {"ARM never in bank 2",
         "FIRMVTR-900_0400",
         {ARM_0800, D1, EOF_REC},
         {ARM_0800, D1, EOF_REC},
         {EOF_REC}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        choose(write("j.hex", JOINT_HEADER + section(c.marker, c.records)));
        const int k = c.marker[13] == '2' ? 0 : c.marker[13] == '3' ? 2 : 4;
        const Images im = images();
        EXPECT_EQ(im.files[k], c.bank1);
        EXPECT_EQ(im.files[k + 1], c.bank2);
        expect_banks_read_whole();
        for (int other = 0; other < 6; other += 2)
            if (other != k) {
                EXPECT_EQ(im.files[other], Lineas{});
                EXPECT_EQ(im.files[other + 1], Lineas{});
            }
    }
}

TEST_F(JointTest, RepeatedKindIsAppended) {
    choose(write("r.hex", JOINT_HEADER + section("FIRMVTR-900_0201", {D1, EOF_REC}) +
                              section("FIRMVTR-900_0207", {XA_B2, D2, EOF_REC})));
    EXPECT_EQ(image(ImagenUnidad::I2C).version, "2.07");
    EXPECT_EQ(image(ImagenUnidad::I2C).id, "FIRMVTR-900_0207");
    EXPECT_EQ(image(ImagenUnidad::I2C).size_tele, totalLength({D1, EOF_REC, XA_B2, D2, EOF_REC}));
    const Images im = images();
    // Both sections' records, then one end record closing each bank.
    EXPECT_EQ(im.files[0], (Lineas{D1, EOF_REC}));
    EXPECT_EQ(im.files[1], (Lineas{XA_B2, D2, EOF_REC}));
    expect_banks_read_whole();
}

// Each section is an image of its own, checked whole: one that is damaged or cut
// short (no end record before the end of the file) rejects the file.
TEST_F(JointTest, DamagedSectionRejectsTheFile) {
    idioma_actual_texto = 2; // the reasons in English
    std::string badSum = D2;
    badSum.replace(badSum.size() - 2, 2, "00");
    const struct {
        const char* what;
        Lineas lines;
        std::string reason;
    } cases[] = {
        {"ARM section cut inside its records",
         JOINT_HEADER + section("FIRMVTR-900_0412", {ARM_0800, D1, ARM_6401}),
         "FIRMVTR-900_0412: no end record"},
        {"ARM section cut, swallowing the next marker",
         JOINT_HEADER + section("FIRMVTR-900_0412", {ARM_0800, D1, ARM_6401}) +
             section("FIRMVTR-900_0205", I2C),
         "FIRMVTR-900_0412: line 12: not an Intel HEX record"},
        {"section cut inside its header lines", JOINT_HEADER + Lineas{"FIRMVTR-900_0306", "a"},
         "FIRMVTR-900_0306: no end record"},
        {"wrong checksum in the CLASS A section",
         JOINT_HEADER + section("FIRMVTR-900_0412", ARM) +
             section("FIRMVTR-900_0306", {D1, badSum, EOF_REC}),
         "FIRMVTR-900_0306: line 20: checksum is 00"},
        {"ARM data before any extended address",
         JOINT_HEADER + section("FIRMVTR-900_0412", {D1, ARM_6401, D2, EOF_REC}),
         "FIRMVTR-900_0412: line 9: address 0x00000000 is outside"},
        // Appended sections of one kind must agree where they meet.
        {"a repeated kind giving a byte another value",
         JOINT_HEADER + section("FIRMVTR-900_0201", {D1, EOF_REC}) +
             section("FIRMVTR-900_0207",
                     {hexRecord(0x00, 0x0000, {0x11, 0x22, 0x33, 0x45}), EOF_REC}),
         "FIRMVTR-900_0207: line 15: the byte at address 0x00000003 differs from the one on "
         "line 9"},
        // After the start record the ARM bank rule goes back to bank 1, whose own
        // upper address places the record on top of bank 1's first bytes.
        {"ARM record after its start record",
         JOINT_HEADER + section("FIRMVTR-900_0412", {ARM_0800, D1, ARM_6401, D2, ARM_START,
                                                     hexRecord(0x00, 0x0000, {0x99}), EOF_REC}),
         "FIRMVTR-900_0412: line 14: the byte at address 0x08000000 differs from the one on "
         "line 10"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        select(sample("vtr900_joint.hex"), TIPO_VTR_ARM);
        ASSERT_EQ(loadCheck(TIPO_VTR_ARM), -1);
        view = {};
        select(write("cut.hex", c.lines), TIPO_VTR_ARM);
        EXPECT_EQ(view.errors, std::vector<int>{0});
        ASSERT_EQ(view.reasons.size(), 1u);
        EXPECT_EQ(view.reasons[0].rfind("cut.hex, ", 0), 0u) << view.reasons[0];
        EXPECT_NE(view.reasons[0].find(c.reason), std::string::npos) << view.reasons[0];
        EXPECT_EQ(images(), Images{});
        EXPECT_EQ(loadCheck(TIPO_VTR_ARM), 0);
        EXPECT_EQ(loadCheck(TIPO_VTR_XA, EleccionXa::ClassA), 0);
    }
}

TEST_F(JointTest, ShortMarkerLineIsIgnored) {
    choose(write("s.hex", JOINT_HEADER + Lineas{"FIRMVTR-900_02", "a", "b", "c", D1, EOF_REC} +
                              section("FIRMVTR-900_0306", CLASSA)));
    EXPECT_EQ(image(ImagenUnidad::I2C).version, "");
    EXPECT_EQ(images().files[0], Lineas{});
    EXPECT_EQ(image(ImagenUnidad::ClassA).version, "3.06");
}

TEST_F(JointTest, ScreenAfterTheSplitDependsOnTheUnit) {
    const struct {
        std::string unit, version;
        int hidden;
        std::vector<bool> load;
    } cases[] = {
        {TIPO_VTR_ARM, "4.12", 1, {false, true}},
        {TIPO_VTR_XA, "", 0, {false, true}},
        {TIPO_VTR_NONE, "", 0, {false}},
        {"", "", 0, {false}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.unit);
        choose(sample("vtr900_joint.hex"), c.unit);
        EXPECT_EQ(view.version, c.version);
        EXPECT_EQ(view.groupHidden, c.hidden);
        EXPECT_EQ(view.loadEnabled, c.load);
    }
}

TEST_F(JointTest, SelectionTableGivesTheFittingImage) {
    const struct {
        std::string unit;
        EleccionXa choice;
        int image; // index of bank 1 in images(), -1 none
        std::string tipo, id;
        int check;
    } cases[] = {
        {TIPO_VTR_ARM, EleccionXa::Ninguna, 4, TIPO_FICHERO_VTR_ARM, "FIRMVTR-900_0412", -1},
        {TIPO_VTR_ARM, EleccionXa::I2C, 4, TIPO_FICHERO_VTR_ARM, "FIRMVTR-900_0412", -1},
        {TIPO_VTR_XA, EleccionXa::I2C, 0, TIPO_FICHERO_VTR_XA, "FIRMVTR-900_0205", -1},
        {TIPO_VTR_XA, EleccionXa::ClassA, 2, TIPO_FICHERO_VTR_XA, "FIRMVTR-900_0306", -1},
        {TIPO_VTR_XA, EleccionXa::Ninguna, -1, "", "", 21},
        {TIPO_VTR_NONE, EleccionXa::ClassA, -1, "", "", 8},
        {"", EleccionXa::Ninguna, -1, "", "", 8},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.unit + " / " + std::to_string(static_cast<int>(c.choice)));
        choose(sample("vtr900_joint.hex"), c.unit);
        const Images im = images();
        EXPECT_EQ(loadCheck(c.unit, c.choice), c.check);
        const TrabajoCarga t = job(c.unit, c.choice);
        EXPECT_EQ(t.tipo_fichero, c.tipo);
        EXPECT_EQ(t.id, c.id);
        if (c.image >= 0) {
            const ImagenJoint& i = sel.imagenes[static_cast<size_t>(c.image / 2)];
            EXPECT_EQ(splitLines(t.banco1), im.files[c.image]);
            EXPECT_EQ(splitLines(t.banco2), im.files[c.image + 1]);
            EXPECT_EQ(t.size_tele, i.size_tele);
        } else {
            EXPECT_EQ(t.banco1, "");
            EXPECT_EQ(t.banco2, "");
        }
    }
}

TEST_F(JointTest, LoadRefusesAnImageTheFileDoesNotHold) {
    choose(write("noarm.hex", JOINT_HEADER + section("FIRMVTR-900_0205", I2C)), TIPO_VTR_ARM);
    EXPECT_EQ(view.version, "");
    EXPECT_EQ(loadCheck(TIPO_VTR_ARM), 0);
    EXPECT_EQ(job(TIPO_VTR_ARM).banco1, "");

    // An XA unit may load the I2C image, not the missing CLASS A one.
    EXPECT_EQ(loadCheck(TIPO_VTR_XA, EleccionXa::I2C), -1);
    EXPECT_EQ(loadCheck(TIPO_VTR_XA, EleccionXa::ClassA), 0);
}

TEST_F(JointTest, GarbageInAJointFileRejectsIt) {
    for (const auto& [what, lines] : std::vector<std::pair<std::string, Lineas>>{
             {"between sections", JOINT_HEADER + section("FIRMVTR-900_0412", ARM) +
                                      Lineas{std::string(100000, '\x01')}},
             {"inside a section",
              JOINT_HEADER + section("FIRMVTR-900_0412", {D1, std::string(3000, 'F'), EOF_REC})}}) {
        SCOPED_TRACE(what);
        view = {};
        select(write("g.hex", lines), TIPO_VTR_ARM);
        EXPECT_EQ(view.errors, std::vector<int>{0});
        EXPECT_EQ(image(ImagenUnidad::Arm).version, "");
        EXPECT_EQ(images(), Images{});
        EXPECT_EQ(view.loadEnabled, std::vector<bool>{false});
        EXPECT_EQ(loadCheck(TIPO_VTR_ARM), 0);
    }
}

// The images are the selection's own: nothing that happens to files afterwards (the
// joint file replaced or removed) changes what a load gets.
TEST_F(JointTest, ImagesStayWithTheSelection) {
    const std::string f = operador.filePath("joint.hex").toStdString();
    ASSERT_TRUE(
        QFile::copy(QString::fromStdString(sample("vtr900_joint.hex")), QString::fromStdString(f)));
    choose(f);
    const TrabajoCarga before = job(TIPO_VTR_ARM);
    ASSERT_NE(before.banco1, "");
    write("joint.hex", JOINT_HEADER + section("FIRMVTR-900_0499", ARM));
    const TrabajoCarga replaced = job(TIPO_VTR_ARM);
    ASSERT_TRUE(QFile::remove(QString::fromStdString(f)));
    const TrabajoCarga removed = job(TIPO_VTR_ARM);
    for (const TrabajoCarga* t : {&replaced, &removed}) {
        EXPECT_EQ(t->id, "FIRMVTR-900_0412");
        EXPECT_EQ(t->banco1, before.banco1);
        EXPECT_EQ(t->banco2, before.banco2);
    }
}

TEST_F(JointTest, SingleFileAfterAJointFileIsLoadedAsItself) {
    choose(sample("vtr900_joint.hex"));
    select(sample("vtr900_xa_0310.hex"), TIPO_VTR_ARM);
    EXPECT_FALSE(sel.joint);
    EXPECT_EQ(sel.tipo_fichero, TIPO_FICHERO_VTR_XA);
    EXPECT_EQ(loadCheck(TIPO_VTR_ARM), -1);
    EXPECT_EQ(job(TIPO_VTR_ARM).id, "FIRMVTR-900_0310");
}

} // namespace
