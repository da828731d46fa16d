// The sample firmware: reproducible from its generator, and as described (valid
// records, record lengths, addresses and sizes).
#include "files_fixture.h"

#include <QProcess>

#include <set>

namespace {

struct Record {
    int length = 0, address = 0, type = -1;
    bool valid = false;
};

// Independent Intel HEX parsing, so that the generator is checked by other code.
Record parse(const std::string& line) {
    Record r;
    if (line.size() < 11 || line[0] != ':' || (line.size() - 1) % 2 != 0)
        return r;
    std::vector<int> bytes;
    for (std::size_t i = 1; i + 1 < line.size(); i += 2)
        bytes.push_back(std::stoi(line.substr(i, 2), nullptr, 16));
    int sum = 0;
    for (int b : bytes)
        sum += b;
    r.length = bytes[0];
    r.address = bytes[1] << 8 | bytes[2];
    r.type = bytes[3];
    r.valid = (sum & 0xFF) == 0 && static_cast<int>(bytes.size()) == r.length + 5;
    return r;
}

struct BankSummary {
    int upper = -1; // extended linear address that opens the bank
    int dataBytes = 0;
    std::set<int> recordLengths;
    bool allValid = true;
    int startRecords = 0;
};

BankSummary summarise(const Lineas& bank) {
    BankSummary s;
    for (const auto& l : bank) {
        const Record r = parse(l);
        s.allValid = s.allValid && r.valid;
        if (r.type == 4 && s.upper < 0)
            s.upper = std::stoi(l.substr(9, 4), nullptr, 16);
        if (r.type == 0) {
            s.dataBytes += r.length;
            s.recordLengths.insert(r.length);
        }
        if (r.type == 5)
            ++s.startRecords;
    }
    return s;
}

TEST_F(FilesTest, SamplesAreExactlyWhatTheGeneratorWrites) {
    const QString generator = QStringLiteral(VTR_BINARY_DIR "/vtr900_gen_samples");
    ASSERT_TRUE(QFile::exists(generator)) << "build the vtr900_gen_samples target";
    QProcess p;
    p.start(generator, {operador.path()});
    ASSERT_TRUE(p.waitForFinished(30000));
    ASSERT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
    const QStringList names = {"vtr900_arm_0412.hex", "vtr900_xa_0310.hex", "vtr900_joint.hex",
                               "module_xyz100_0102.hex", "module_xyz100_0102.bin"};
    QStringList sorted = names;
    sorted.sort();
    EXPECT_EQ(QDir(operador.path()).entryList(QDir::Files, QDir::Name), sorted);
    for (const QString& n : names) {
        QFile fresh(QDir(operador.path()).filePath(n)),
            committed(QString::fromStdString(sample(n.toUtf8().constData())));
        ASSERT_TRUE(fresh.open(QIODevice::ReadOnly) && committed.open(QIODevice::ReadOnly))
            << n.toStdString();
        EXPECT_TRUE(fresh.readAll() == committed.readAll())
            << n.toStdString() << " differs from its generator";
    }
}

TEST_F(FilesTest, UnitSamplesHoldRealisticBanks) {
    const struct {
        const char* file;
        int upper1, upper2, bytes1, bytes2, starts;
    } cases[] = {
        {"vtr900_arm_0412.hex", 0x0800, 0x6401, 4096, 1024, 1},
        {"vtr900_xa_0310.hex", 0x0000, 0x0001, 2048, 512, 0},
    };
    std::set<int> lengths;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        select(sample(c.file));
        ASSERT_TRUE(view.errors.empty());
        const BankSummary b1 = summarise(banco(1)), b2 = summarise(banco(2));
        EXPECT_TRUE(b1.allValid && b2.allValid);
        EXPECT_EQ(b1.upper, c.upper1);
        EXPECT_EQ(b2.upper, c.upper2);
        EXPECT_EQ(b1.dataBytes, c.bytes1);
        EXPECT_EQ(b2.dataBytes, c.bytes2);
        EXPECT_EQ(b1.startRecords, c.starts);
        EXPECT_EQ(banco(1).back(), REG_FIN);
        EXPECT_EQ(banco(2).back(), REG_FIN);
        lengths.insert(b1.recordLengths.begin(), b1.recordLengths.end());
        lengths.insert(b2.recordLengths.begin(), b2.recordLengths.end());
    }
    EXPECT_EQ(lengths, (std::set<int>{16, 32}));
}

TEST_F(FilesTest, ModuleSamplesHaveTheirHeaders) {
    for (const char* f : {"module_xyz100_0102.hex", "module_xyz100_0102.bin"}) {
        SCOPED_TRACE(f);
        view = {};
        select(sample(f));
        EXPECT_TRUE(view.errors.empty());
        EXPECT_EQ(sel.id, "FIRMXYZ-100 0102");
        EXPECT_EQ(view.module, "XYZ-100 ");
        EXPECT_EQ(view.version, "1.02");
    }
    QFile bin(QString::fromStdString(sample("module_xyz100_0102.bin")));
    ASSERT_TRUE(bin.open(QIODevice::ReadOnly));
    const QByteArray all = bin.readAll();
    const QByteArray head = "FIRMXYZ-100 0102\r\n";
    ASSERT_TRUE(all.startsWith(head));
    const qsizetype dataStart = all.indexOf("BIN\r\n") + 5;
    const QByteArray data = all.mid(dataStart);
    EXPECT_EQ(data.size(), 1500);
    EXPECT_TRUE(data.contains('\xA5') && data.contains('\r') && data.contains('\n'));
    const Lineas hex = *readLines(sample("module_xyz100_0102.hex"));
    const BankSummary records = summarise(Lineas(hex.begin() + 4, hex.end()));
    EXPECT_TRUE(records.allValid);
    EXPECT_GT(records.dataBytes, 0);
}

} // namespace
