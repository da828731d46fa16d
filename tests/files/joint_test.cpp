// Joint files: the split into six images and the choice of the image to load.
#include "files_fixture.h"

namespace {

const std::string EOF_REC = ":00000001FF";
const std::string XA_B1 = ":020000040000FA";
const std::string XA_B2 = ":020000040001F9";
const std::string ARM_0800 = ":020000040800F2";
const std::string ARM_6401 = ":020000046401F5";
const std::string ARM_START = ":04000005080001319D";
const std::string D1 = ":0400000011223344AA";
const std::string D2 = ":04001000A1B2C3D4E2";

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
    Images images() const {
        Images r;
        const std::string* names[6] = {&ID_FICHERO_I2C1,    &ID_FICHERO_I2C2, &ID_FICHERO_CLASSA1,
                                       &ID_FICHERO_CLASSA2, &ID_FICHERO_ARM1, &ID_FICHERO_ARM2};
        for (int i = 0; i < 6; ++i)
            r.files[i] = readLines(imagen(*names[i]));
        return r;
    }
    void choose(const std::string& f, const std::string& unit = TIPO_VTR_ARM) {
        tipo_vtr = unit;
        view = {};
        seleccionar_fichero(f, view);
        ASSERT_TRUE(view.errors.empty()) << view.errors.front();
        ASSERT_EQ(tipo_sw.get(), TIPO_FIRM_VTR_JOINT);
    }
};

TEST_F(JointTest, SampleIsSplitIntoItsThreeImages) {
    // The ARM image of the joint sample is the single ARM sample; both splits must agree.
    seleccionar_fichero(sample("vtr900_arm_0412.hex"), view);
    const auto single1 = banco(1), single2 = banco(2);
    const int singleSize = size_tele;

    choose(sample("vtr900_joint.hex"));
    EXPECT_EQ(view.module, "VTR-900");
    EXPECT_EQ(vtr_I2C_version.get(), "2.05");
    EXPECT_EQ(vtr_CLASSA_version.get(), "3.06");
    EXPECT_EQ(vtr_ARM_version.get(), "4.12");
    EXPECT_EQ(id_str_I2C.get(), "FIRMVTR-900_0205");
    EXPECT_EQ(id_str_CLASSA.get(), "FIRMVTR-900_0306");
    EXPECT_EQ(id_str_ARM.get(), "FIRMVTR-900_0412");
    EXPECT_EQ(fichero_ARM1.get(), imagen(ID_FICHERO_ARM1));
    const Images im = images();
    EXPECT_EQ(im.files[4], single1);
    EXPECT_EQ(im.files[5], single2);
    EXPECT_EQ(size_tele_ARM.load(), singleSize);
    // The XA images have a section header of four lines that the sizes leave out.
    for (int k : {0, 2}) {
        ASSERT_TRUE(im.files[k] && im.files[k + 1]);
        ASSERT_GE(im.files[k]->size(), 2u);
        EXPECT_EQ(im.files[k]->back(), EOF_REC);
        EXPECT_NE((*im.files[k])[im.files[k]->size() - 2], EOF_REC) << "section ends in bank 2";
        EXPECT_EQ(im.files[k + 1]->back(), EOF_REC);
        const int size = k == 0 ? size_tele_I2C : size_tele_CLASSA;
        EXPECT_EQ(size, totalLength(*im.files[k]) + totalLength(*im.files[k + 1]) -
                            static_cast<int>(EOF_REC.size()));
    }
}

TEST_F(JointTest, SectionOrderDoesNotMatter) {
    const Lineas i2c = section("FIRMVTR-900_0205", I2C), cla = section("FIRMVTR-900_0306", CLASSA),
                 arm = section("FIRMVTR-900_0412", ARM);
    choose(write("a.hex", JOINT_HEADER + i2c + cla + arm));
    const Images first = images();
    const std::string versions =
        vtr_I2C_version.get() + vtr_CLASSA_version.get() + vtr_ARM_version.get();
    const int sizes[3] = {size_tele_I2C, size_tele_CLASSA, size_tele_ARM};

    choose(write("b.hex",
                 JOINT_HEADER + Lineas{"junk between"} + arm + Lineas{"more junk"} + cla + i2c));
    EXPECT_EQ(images(), first);
    EXPECT_EQ(vtr_I2C_version.get() + vtr_CLASSA_version.get() + vtr_ARM_version.get(), versions);
    EXPECT_EQ(size_tele_I2C.load(), sizes[0]);
    EXPECT_EQ(size_tele_CLASSA.load(), sizes[1]);
    EXPECT_EQ(size_tele_ARM.load(), sizes[2]);
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
        {"XA never in bank 2",
         "FIRMVTR-900_0205",
         {D1, D2, EOF_REC},
         {D1, D2, EOF_REC, EOF_REC},
         {}},
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
         {D1, ARM_6401, D2, EOF_REC},
         {D1},
         {ARM_6401, D2, EOF_REC, EOF_REC}},
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
    EXPECT_EQ(vtr_I2C_version.get(), "2.07");
    EXPECT_EQ(id_str_I2C.get(), "FIRMVTR-900_0207");
    EXPECT_EQ(size_tele_I2C.load(), totalLength({D1, EOF_REC, XA_B2, D2, EOF_REC}));
    const Images im = images();
    // The second section ends in bank 2 and adds its extra end record to bank 1 too.
    EXPECT_EQ(im.files[0], (Lineas{D1, EOF_REC, EOF_REC, EOF_REC}));
    EXPECT_EQ(im.files[1], (Lineas{XA_B2, D2, EOF_REC}));
}

TEST_F(JointTest, CutOffSectionEndsAtTheEndOfTheFile) {
    // No end record: the section runs to the end of the file, swallowing what follows,
    // and gets no end record of its own.
    choose(write("cut.hex", JOINT_HEADER + section("FIRMVTR-900_0412", {ARM_0800, D1, ARM_6401}) +
                                Lineas{"FIRMVTR-900_0205", D2}));
    EXPECT_EQ(vtr_ARM_version.get(), "4.12");
    EXPECT_EQ(vtr_I2C_version.get(), "");
    const Images im = images();
    EXPECT_EQ(im.files[4], (Lineas{ARM_0800, D1}));
    EXPECT_EQ(im.files[5], (Lineas{ARM_6401, "FIRMVTR-900_0205", D2}));
    EXPECT_EQ(size_tele_ARM.load(), totalLength({ARM_0800, D1, ARM_6401, "FIRMVTR-900_0205", D2}));
    // Cut off inside its header lines: nothing written.
    choose(write("cut2.hex", JOINT_HEADER + Lineas{"FIRMVTR-900_0306", "a"}));
    EXPECT_EQ(vtr_CLASSA_version.get(), "3.06");
    EXPECT_EQ(images().files[2], Lineas{});
}

TEST_F(JointTest, ShortMarkerLineIsIgnored) {
    choose(write("s.hex", JOINT_HEADER + Lineas{"FIRMVTR-900_02", "a", "b", "c", D1, EOF_REC} +
                              section("FIRMVTR-900_0306", CLASSA)));
    EXPECT_EQ(vtr_I2C_version.get(), "");
    EXPECT_EQ(images().files[0], Lineas{});
    EXPECT_EQ(vtr_CLASSA_version.get(), "3.06");
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

TEST_F(JointTest, SelectionTableCopiesTheFittingImage) {
    const struct {
        std::string unit, sw;
        int image; // index of bank 1 in images(), -1 none
        std::string tipo, id;
        int check;
    } cases[] = {
        {TIPO_VTR_ARM, TIPO_FIRM_VTR_JOINT, 4, TIPO_FICHERO_VTR_ARM, "FIRMVTR-900_0412", -1},
        {TIPO_VTR_ARM, TIPO_FIRM_VTR_XAI2C, 4, TIPO_FICHERO_VTR_ARM, "FIRMVTR-900_0412", -1},
        {TIPO_VTR_XA, TIPO_FIRM_VTR_XAI2C, 0, TIPO_FICHERO_VTR_XA, "FIRMVTR-900_0205", -1},
        {TIPO_VTR_XA, TIPO_FIRM_VTR_XACLASSA, 2, TIPO_FICHERO_VTR_XA, "FIRMVTR-900_0306", -1},
        {TIPO_VTR_XA, TIPO_FIRM_VTR_JOINT, -1, "", "VTR-JOINT 0205 0306 0412", 21},
        {TIPO_VTR_NONE, TIPO_FIRM_VTR_XACLASSA, -1, "", "VTR-JOINT 0205 0306 0412", 8},
        {"", TIPO_FIRM_VTR_JOINT, -1, "", "VTR-JOINT 0205 0306 0412", 8},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.unit + " / " + c.sw);
        choose(sample("vtr900_joint.hex"), c.unit);
        const Images im = images();
        tipo_sw = c.sw;
        view = {};
        selecciona_FirmW_VTR(view);
        EXPECT_EQ(tipo_fichero.get(), c.tipo);
        EXPECT_EQ(id_str.get(), c.id);
        EXPECT_EQ(comprobar_seleccion_para_carga(), c.check);
        if (c.image >= 0) {
            EXPECT_EQ(banco(1), im.files[c.image]);
            EXPECT_EQ(banco(2), im.files[c.image + 1]);
            EXPECT_EQ(fichero_banco1.get(), imagen(ID_FICHERO_BANCO1));
            EXPECT_EQ(size_tele.load(), c.image == 0   ? size_tele_I2C.load()
                                        : c.image == 2 ? size_tele_CLASSA.load()
                                                       : size_tele_ARM.load());
        } else {
            EXPECT_EQ(banco(1), Lineas{});
            EXPECT_EQ(banco(2), Lineas{});
        }
        EXPECT_EQ(view.groupHidden, c.unit == TIPO_VTR_ARM ? 1 : 0);
    }
}

TEST_F(JointTest, LoadRefusesAnImageTheFileDoesNotHold) {
    choose(write("noarm.hex", JOINT_HEADER + section("FIRMVTR-900_0205", I2C)), TIPO_VTR_ARM);
    EXPECT_EQ(view.version, "");
    selecciona_FirmW_VTR(view);
    EXPECT_EQ(banco(1), Lineas{});
    EXPECT_EQ(comprobar_seleccion_para_carga(), 0);

    // An XA unit may load the I2C image, not the missing CLASS A one.
    tipo_vtr = TIPO_VTR_XA;
    tipo_sw = TIPO_FIRM_VTR_XAI2C;
    selecciona_FirmW_VTR(view);
    EXPECT_EQ(comprobar_seleccion_para_carga(), -1);
    tipo_sw = TIPO_FIRM_VTR_XACLASSA;
    EXPECT_EQ(comprobar_seleccion_para_carga(), 0) << "banks still hold the I2C image";
    selecciona_FirmW_VTR(view);
    EXPECT_EQ(comprobar_seleccion_para_carga(), 0);
}

TEST_F(JointTest, GarbageInAJointFileRejectsIt) {
    for (const auto& [what, lines] : std::vector<std::pair<std::string, Lineas>>{
             {"between sections", JOINT_HEADER + section("FIRMVTR-900_0412", ARM) +
                                      Lineas{std::string(100000, '\x01')}},
             {"inside a section",
              JOINT_HEADER + section("FIRMVTR-900_0412", {D1, std::string(3000, 'F'), EOF_REC})}}) {
        SCOPED_TRACE(what);
        tipo_vtr = TIPO_VTR_ARM;
        view = {};
        seleccionar_fichero(write("g.hex", lines), view);
        EXPECT_EQ(view.errors, std::vector<int>{0});
        EXPECT_EQ(vtr_ARM_version.get(), "");
        EXPECT_EQ(images(), Images{});
        EXPECT_EQ(view.loadEnabled, std::vector<bool>{false});
        EXPECT_EQ(comprobar_seleccion_para_carga(), 0);
    }
}

TEST_F(JointTest, MissingImageFileFailsTheSelection) {
    choose(sample("vtr900_joint.hex"));
    ASSERT_TRUE(QFile::remove(QString::fromStdString(imagen(ID_FICHERO_ARM2))));
    EXPECT_FALSE(selecciona_FirmW_VTR(view));
    EXPECT_NE(ultimo_error_fichero(), "");
    EXPECT_FALSE(banco(1).has_value());
    EXPECT_FALSE(banco(2).has_value());
    EXPECT_EQ(comprobar_seleccion_para_carga(), 0);
}

TEST_F(JointTest, SingleFileAfterAJointFileIsLoadedAsItself) {
    choose(sample("vtr900_joint.hex"));
    selecciona_FirmW_VTR(view);
    seleccionar_fichero(sample("vtr900_xa_0310.hex"), view);
    EXPECT_EQ(tipo_sw.get(), TIPO_FIRM_VTR_NONE);
    EXPECT_EQ(tipo_fichero.get(), TIPO_FICHERO_VTR_XA);
    EXPECT_EQ(id_str.get(), "FIRMVTR-900_0310");
    EXPECT_EQ(comprobar_seleccion_para_carga(), -1);
}

} // namespace
