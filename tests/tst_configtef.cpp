#include "base/ConfigTef.h"

#include <QDate>
#include <QDir>
#include <QFile>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QByteArray kDefaultFile = "{\n"
                                "    \"file_req\": \"IntPos.001\",\n"
                                "    \"file_resp\": \"IntPos.Sts\",\n"
                                "    \"log\": 0,\n"
                                "    \"path_in\": \"C:/Cliente/Req\",\n"
                                "    \"path_out\": \"C:/Cliente/Resp\",\n"
                                "    \"produto_tef\": -1\n"
                                "}\n";

const QStringList kCreationLines = {
    QStringLiteral("{Info} \t\t Arquivo não existe"),
    QStringLiteral("{Debug} \t\t log: 0"),
    QStringLiteral("{Info} \t\t Arquivo criado com sucesso"),
};

// Empty settings mean empty paths, and the current directory always exists.
const QString kDirectoriesExist = QStringLiteral("{Debug} \t\t Diretórios já existentes");

const QStringList kSetAsideLines = {
    QStringLiteral("{Debug} \t\t Arquivo existe mas não contém as chaves necessárias"),
    QStringLiteral("{Info} \t\t Arquivo inválido, renomeado para config_tefOLD.json"),
};

QByteArray readAll(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeAll(const QString &path, const QByteArray &bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray validFile(const QByteArray &extra) {
    return "{\"path_in\": \"req\", \"path_out\": \"resp\", \"file_req\": \"IntPos.001\", "
           "\"file_resp\": \"IntPos.Sts\"" +
           extra + "}";
}

} // namespace

class TestConfigTef : public QObject {
    Q_OBJECT

private slots:
    void init() {
        m_dir.reset(new QTemporaryDir);
        QVERIFY(m_dir->isValid());
        // Relative paths in the file (and "q7_log.txt") resolve inside the temporary directory.
        QVERIFY(QDir::setCurrent(m_dir->path()));
        QVERIFY(QDir().mkpath(QStringLiteral("logs")));
        qunsetenv("Q7_LOG");
        qputenv("Q7_LOG_PATH", m_dir->filePath(QStringLiteral("logs")).toLocal8Bit());
    }
    void cleanup() {
        qunsetenv("Q7_LOG");
        qunsetenv("Q7_LOG_PATH");
        QDir::setCurrent(QDir::tempPath());
        m_dir.reset();
    }

    void load_data() {
        QTest::addColumn<QByteArray>("content"); // null: no file
        QTest::addColumn<QByteArray>("presetQ7Log");
        QTest::addColumn<bool>("responseDirExists");
        QTest::addColumn<QByteArray>("expectedFile");
        QTest::addColumn<QByteArray>("expectedOld"); // null: no config_tefOLD.json
        QTest::addColumn<QStringList>("expectedLines");
        QTest::addColumn<QStringList>("expectedPaths"); // in, out, req, resp
        QTest::addColumn<int>("expectedProduct");
        QTest::addColumn<QByteArray>("expectedQ7Log");

        const QStringList defaults = {QStringLiteral("C:/Cliente/Req"), QStringLiteral("C:/Cliente/Resp"),
                                      QStringLiteral("IntPos.001"), QStringLiteral("IntPos.Sts")};
        const QStringList custom = {QStringLiteral("req"), QStringLiteral("resp"),
                                    QStringLiteral("IntPos.001"), QStringLiteral("IntPos.Sts")};
        const QStringList empty = {QString(), QString(), QString(), QString()};
        const QString log0 = QStringLiteral("{Debug} \t\t log: 0");

        QTest::newRow("missing file is created with defaults")
            << QByteArray() << QByteArray() << false << kDefaultFile << QByteArray() << kCreationLines
            << defaults << 0 << QByteArray();

        const QByteArray onlyPathIn = "{\"path_in\": \"req\"}";
        QTest::newRow("only path_in is set aside")
            << onlyPathIn << QByteArray() << false << kDefaultFile << onlyPathIn
            << kSetAsideLines + kCreationLines << defaults << 0 << QByteArray();

        const QByteArray array = "[\"path_in\", \"path_out\", \"file_req\", \"file_resp\"]";
        QTest::newRow("top-level array is set aside")
            << array << QByteArray() << false << kDefaultFile << array << kSetAsideLines + kCreationLines
            << defaults << 0 << QByteArray();

        for (const auto &row :
             {std::make_pair("product as text \"1\"", QByteArray(", \"produto_tef\": \"1\"")),
              std::make_pair("product 1.5", QByteArray(", \"produto_tef\": 1.5")),
              std::make_pair("product missing", QByteArray()),
              std::make_pair("product -1", QByteArray(", \"produto_tef\": -1"))}) {
            const QByteArray file = validFile(row.second);
            QTest::newRow(row.first) << file << QByteArray() << false << file << QByteArray()
                                     << QStringList{log0} << custom << 0 << QByteArray();
        }
        for (const auto &row :
             {std::make_tuple("product 1", QByteArray(", \"produto_tef\": 1"), 1),
              std::make_tuple("product 2", QByteArray(", \"produto_tef\": 2"), 2),
              std::make_tuple("product 7 is invalid", QByteArray(", \"produto_tef\": 7"), -2),
              std::make_tuple("product 3 is invalid", QByteArray(", \"produto_tef\": 3"), -2)}) {
            const QByteArray file = validFile(std::get<1>(row));
            QTest::newRow(std::get<0>(row))
                << file << QByteArray() << false << file << QByteArray() << QStringList{log0} << custom
                << std::get<2>(row) << QByteArray();
        }

        const QByteArray log1 = validFile(", \"log\": 1");
        QTest::newRow("log 1 sets Q7_LOG")
            << log1 << QByteArray() << false << log1 << QByteArray()
            << QStringList{QStringLiteral("{Debug} \t\t log: 1"), QStringLiteral("{Info} \t\t Versão: ")}
            << custom << 0 << QByteArray("q7_log.txt");
        QTest::newRow("log 1 keeps an outside Q7_LOG")
            << log1 << QByteArray("outside.txt") << false << log1 << QByteArray()
            << QStringList{QStringLiteral("{Debug} \t\t log: 1")} << custom << 0 << QByteArray("outside.txt");
        const QByteArray log2 = validFile(", \"log\": 2");
        QTest::newRow("log 2 changes nothing")
            << log2 << QByteArray() << false << log2 << QByteArray()
            << QStringList{QStringLiteral("{Debug} \t\t log: 2")} << custom << 0 << QByteArray();

        const QByteArray numericPath =
            "{\"path_in\": 5, \"path_out\": \"resp\", \"file_req\": \"IntPos.001\", "
            "\"file_resp\": \"IntPos.Sts\"}";
        QTest::newRow("path_in as a number is present but empty")
            << numericPath << QByteArray() << false << numericPath << QByteArray() << QStringList{log0}
            << QStringList{QString(), QStringLiteral("resp"), QStringLiteral("IntPos.001"),
                           QStringLiteral("IntPos.Sts")}
            << 0 << QByteArray();

        const QByteArray existing = validFile(", \"produto_tef\": 1");
        QTest::newRow("existing response directory")
            << existing << QByteArray() << true << existing << QByteArray()
            << QStringList{log0, kDirectoriesExist} << custom << 1 << QByteArray();

        const QByteArray zeroTerminated = validFile(", \"produto_tef\": 2") + QByteArray("\0garbage", 8);
        QTest::newRow("bytes after a zero are ignored")
            << zeroTerminated << QByteArray() << false << zeroTerminated << QByteArray() << QStringList{log0}
            << custom << 2 << QByteArray();

        for (const auto &row : {std::make_pair("empty file", QByteArray("")),
                                std::make_pair("syntax error", QByteArray("{\"path_in\": ")),
                                std::make_pair("zero first", QByteArray("\0{}", 3))}) {
            QTest::newRow(row.first) << row.second << QByteArray() << false << row.second << QByteArray()
                                     << QStringList{QStringLiteral(
                                                        "{Error} \t\t Arquivo de configuração vazio"),
                                                    kDirectoriesExist}
                                     << empty << 0 << QByteArray();
        }
    }
    void load() {
        QFETCH(QByteArray, content);
        QFETCH(QByteArray, presetQ7Log);
        QFETCH(bool, responseDirExists);
        QFETCH(QByteArray, expectedFile);
        QFETCH(QByteArray, expectedOld);
        QFETCH(QStringList, expectedLines);
        QFETCH(QStringList, expectedPaths);
        QFETCH(int, expectedProduct);
        QFETCH(QByteArray, expectedQ7Log);

        const QString file = m_dir->filePath(QStringLiteral("config_tef.json"));
        const QString old = m_dir->filePath(QStringLiteral("config_tefOLD.json"));
        if (!content.isNull())
            QVERIFY(writeAll(file, content));
        if (!presetQ7Log.isEmpty())
            qputenv("Q7_LOG", presetQ7Log);
        if (responseDirExists)
            QVERIFY(QDir().mkpath(QStringLiteral("resp")));

        ConfigTef config(m_dir->path());

        QCOMPARE(readAll(file), expectedFile);
        QCOMPARE(QFileInfo::exists(old), !expectedOld.isNull());
        if (!expectedOld.isNull())
            QCOMPARE(readAll(old), expectedOld);
        QCOMPARE(logLines(), expectedLines);
        QCOMPARE(
            (QStringList{config.getPathIn(), config.getPathOut(), config.getFileReq(), config.getFileResp()}),
            expectedPaths);
        QCOMPARE(config.getProdutoTef(), expectedProduct);
        QCOMPARE(qgetenv("Q7_LOG"), expectedQ7Log);
        for (const QString &dir : {config.getPathIn(), config.getPathOut()})
            QVERIFY2(dir.isEmpty() || QDir(dir).exists(), qPrintable(dir));
    }

    void unknownKeysAreNotKept() {
        QVERIFY(writeAll(m_dir->filePath(QStringLiteral("config_tef.json")), validFile(", \"extra\": true")));
        ConfigTef config(m_dir->path());
        QCOMPARE(config.values().keys(),
                 (QStringList{QStringLiteral("file_req"), QStringLiteral("file_resp"), QStringLiteral("log"),
                              QStringLiteral("path_in"), QStringLiteral("path_out"),
                              QStringLiteral("produto_tef")}));
    }

    // The optional keys: file encoding and response layout.
    void optionalKeys_data() {
        QTest::addColumn<QByteArray>("extra");
        QTest::addColumn<QString>("codificacao");
        QTest::addColumn<QString>("compatibilidade");
        QTest::addColumn<QStringList>("expectedLines");
        const QString log0 = QStringLiteral("{Debug} \t\t log: 0");
        const QString utf8 = QStringLiteral("utf-8");
        const QString padrao = QStringLiteral("padrao");
        const QString tefdial = QStringLiteral("tefdial");
        QTest::newRow("absent") << QByteArray() << utf8 << padrao << QStringList{log0};
        QTest::newRow("utf-8") << QByteArray(", \"codificacao\": \"utf-8\"") << utf8 << padrao
                               << QStringList{log0};
        QTest::newRow("windows-1252") << QByteArray(", \"codificacao\": \"windows-1252\"")
                                      << QStringLiteral("windows-1252") << padrao << QStringList{log0};
        QTest::newRow("upper case") << QByteArray(", \"codificacao\": \"Windows-1252\"")
                                    << QStringLiteral("windows-1252") << padrao << QStringList{log0};
        QTest::newRow("unknown encoding falls back to utf-8")
            << QByteArray(", \"codificacao\": \"latin1\"") << utf8 << padrao
            << QStringList{log0,
                           QStringLiteral("{Error} \t\t Codificação desconhecida: latin1; usando utf-8")};
        QTest::newRow("padrao") << QByteArray(", \"compatibilidade\": \"padrao\"") << utf8 << padrao
                                << QStringList{log0};
        QTest::newRow("tefdial, any case, with an encoding")
            << QByteArray(", \"compatibilidade\": \"TefDial\", \"codificacao\": \"windows-1252\"")
            << QStringLiteral("windows-1252") << tefdial << QStringList{log0};
        QTest::newRow("unknown layout falls back to padrao")
            << QByteArray(", \"compatibilidade\": \"sitef\"") << utf8 << padrao
            << QStringList{log0,
                           QStringLiteral("{Error} \t\t Compatibilidade desconhecida: sitef; usando padrao")};
        QTest::newRow("layout that is not text")
            << QByteArray(", \"compatibilidade\": 1") << utf8 << padrao
            << QStringList{log0, QStringLiteral("{Error} \t\t Compatibilidade "
                                                "desconhecida: ; usando padrao")};
    }
    void optionalKeys() {
        QFETCH(QByteArray, extra);
        QFETCH(QString, codificacao);
        QFETCH(QString, compatibilidade);
        QFETCH(QStringList, expectedLines);
        QVERIFY(writeAll(m_dir->filePath(QStringLiteral("config_tef.json")), validFile(extra)));
        ConfigTef config(m_dir->path());
        QCOMPARE(config.getCodificacao(), codificacao);
        QCOMPARE(config.getCompatibilidade(), compatibilidade);
        QCOMPARE(logLines(), expectedLines);
    }

    void earlierCopyIsNeverOverwritten() {
        const QByteArray broken = "{\"path_out\": \"x\"}";
        const QByteArray earlier = "earlier copy";
        const QString file = m_dir->filePath(QStringLiteral("config_tef.json"));
        const QString old = m_dir->filePath(QStringLiteral("config_tefOLD.json"));
        QVERIFY(writeAll(file, broken));
        QVERIFY(writeAll(old, earlier));

        ConfigTef config(m_dir->path());

        QCOMPARE(readAll(file), broken);
        QCOMPARE(readAll(old), earlier);
        QCOMPARE(config.values(), QJsonObject());
        QCOMPARE(config.getProdutoTef(), 0);
        QCOMPARE(
            logLines(),
            (QStringList{kSetAsideLines.first(),
                         QStringLiteral("{Error} \t\t Impossível renomear arquivo para config_tefOLD.json"),
                         kDirectoriesExist}));
    }

    void unwritableDirectoryLeavesEmptySettings() {
        ConfigTef config(m_dir->filePath(QStringLiteral("no/such/dir")));
        QCOMPARE(config.values(), QJsonObject());
        QCOMPARE(logLines(), (QStringList{QStringLiteral("{Info} \t\t Arquivo não existe"),
                                          QStringLiteral("{Error} \t\t Impossível escrever no arquivo"),
                                          kDirectoriesExist}));
    }

    void unreadableFileLeavesEmptySettings() {
        const QString file = m_dir->filePath(QStringLiteral("config_tef.json"));
        QVERIFY(QDir().mkpath(file)); // exists, but cannot be opened as a file
        ConfigTef config(m_dir->path());
        QCOMPARE(config.values(), QJsonObject());
        QCOMPARE(logLines(), (QStringList{QStringLiteral("{Error} \t\t Impossível abrir arquivo: ") + file,
                                          kDirectoriesExist}));
    }

    void secondInstanceLoadsTheCreatedFile() {
        ConfigTef first(m_dir->path());
        ConfigTef second(m_dir->path());
        QCOMPARE(second.values(), first.values());
        QCOMPARE(logLines().mid(kCreationLines.size()),
                 (QStringList{QStringLiteral("{Debug} \t\t log: 0"), kDirectoriesExist}));
    }

private:
    // Log lines of this test without the time-stamp header.
    QStringList logLines() const {
        QFile file(m_dir->filePath(QStringLiteral("logs/")) +
                   QDate::currentDate().toString(QStringLiteral("ddMMyy")) + QStringLiteral("_Q7-LOG.txt"));
        if (!file.open(QIODevice::ReadOnly))
            return {};
        QStringList lines;
        const QList<QByteArray> raw = file.readAll().split('\n');
        for (const QByteArray &line : raw)
            if (!line.isEmpty())
                lines << QString::fromLocal8Bit(line).mid(38);
        return lines;
    }

    QScopedPointer<QTemporaryDir> m_dir;
};

QTEST_GUILESS_MAIN(TestConfigTef)
#include "tst_configtef.moc"
