#include "MsgWndProbe.h"
#include "ProjectRecord.h"
#include "ShownWindows.h"

#include "ImgMarks/ExportSetWid.h"
#include "ImgMarks/ImgMarksWid.h"

#include "CallbackLog.h"
#include "ComUi/CMsgWnd.h"
#include "ComUi/Skin.h"
#include "Nexil/NexilApi.h"
#include "Nexil/ROI/RectROIItem.h"

#include <QComboBox>
#include <QDirIterator>
#include <QImage>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

namespace
{

QStringList Tree(const QString& folder)
{
    QStringList entries;
    QDirIterator it(folder, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        entries << it.next();
    entries.sort();
    return entries;
}

} // namespace

// The export button of the annotation page and its dialog, run as a user runs them.
class tst_ExportDialog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void exportFromPage_data();
    void exportFromPage();

private:
    std::unique_ptr<QTemporaryDir> m_home;
    std::unique_ptr<QTemporaryDir> m_dir;
};

void tst_ExportDialog::initTestCase()
{
    InitComUiResources();
    // The dialog proposes a folder under the user's documents.
    m_home = std::make_unique<QTemporaryDir>();
    qputenv("HOME", QFile::encodeName(m_home->path()));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_home->filePath(".config")));
    qputenv("XDG_DATA_HOME", QFile::encodeName(m_home->filePath(".local/share")));
}

void tst_ExportDialog::cleanup()
{
    ReleaseNexil();
    m_dir.reset();
}

void tst_ExportDialog::exportFromPage_data()
{
    QTest::addColumn<bool>("annotated");
    // Below the temporary folder, or in the project.
    QTest::addColumn<QString>("output");
    // "files": the output holds a file; "export": an earlier export's file and marker.
    QTest::addColumn<QString>("taken");
    QTest::addColumn<bool>("answerOk");
    QTest::addColumn<QVector<int>>("kinds");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("written");

    QTest::newRow("export")
        << true << "out/set"
        << "" << true << QVector<int>{NOTIFY_COMPLETE}
        << "导出完成：2 张图片，1 个目标，1 个类别。\n训练集 2 张，验证集 0 张，其中 OK 图 1 张。" << true;
    QTest::newRow("replace an earlier export")
        << true << "out/set"
        << "export" << true << QVector<int>{NOTIFY_QUERY, NOTIFY_COMPLETE} << "导出完成：2 张图片" << true;
    QTest::newRow("keep an earlier export")
        << true << "out/set"
        << "export" << false << QVector<int>{NOTIFY_QUERY} << "输出目录中是之前导出的数据集" << false;
    QTest::newRow("a folder no export made") << true << "out/set"
                                             << "files" << true << QVector<int>{NOTIFY_ERROR}
                                             << "输出目录不为空，且不是导出的数据集，不能替换" << false;
    QTest::newRow("the project's images")
        << true << "<project>/datas"
        << "" << true << QVector<int>{NOTIFY_ERROR} << "输出目录在工程或工作空间之内" << false;
    QTest::newRow("nothing annotated")
        << false << "out/set"
        << "" << true << QVector<int>{NOTIFY_COMPLETE} << "工程中还没有已标注的图片，无法导出。" << false;
}

void tst_ExportDialog::exportFromPage()
{
    QFETCH(bool, annotated);
    QFETCH(QString, output);
    QFETCH(QString, taken);
    QFETCH(bool, answerOk);
    QFETCH(QVector<int>, kinds);
    QFETCH(QString, text);
    QFETCH(bool, written);

    m_dir = std::make_unique<QTemporaryDir>();
    QDir().mkpath(m_dir->filePath("ws"));
    CreateNexil();
    QVERIFY(NexilIns().lock()->Init(m_dir->filePath("ws")));
    QVERIFY(NexilIns().lock()->AddPro(MakeInfo("P1", "螺丝", 2)));
    NexilIns().lock()->OpenPro("P1");
    const auto prj = PrjIns().lock();
    CallbackLog log;
    prj->SetSaveCallback(&CallbackLog::Record, &log);
    for (int i = 0; i < 2 && annotated; ++i)
    {
        QImage picture(64, 48, QImage::Format_RGB888);
        picture.fill(Qt::gray);
        auto img = std::make_shared<pro::ImageInfo>();
        img->path = m_dir->filePath(QStringLiteral("pic %1.png").arg(i));
        QVERIFY(picture.save(img->path));
        img->fileName = QFileInfo(img->path).fileName();
        img->addTime = "batch";
        img->markAsOK = i == 1;
        if (i == 0)
            img->rois = {std::make_shared<RectROIItem>(QRectF(4, 4, 10, 10), 0, "脏污")};
        prj->AddImage(img);
    }
    QTRY_COMPARE(log.results.size(), annotated ? 2 : 0);

    output = output.startsWith("<project>") ? output.replace("<project>", prj->PrjPath())
                                            : m_dir->filePath(output);
    const QStringList images = Tree(prj->PrjPath() + "/datas");
    if (!taken.isEmpty())
    {
        QDir().mkpath(output);
        QFile keep(output + "/keep.txt");
        QVERIFY(keep.open(QIODevice::WriteOnly));
    }
    if (taken == "export")
    {
        QFile marker(output + "/.lumora-export");
        QVERIFY(marker.open(QIODevice::WriteOnly));
    }
    ImgMarksWid page;
    page.SetConfigFile(m_dir->filePath("Config.ini"));
    page.show();
    // The dialog stays up after a declined question and is then closed; a running export closes it itself.
    QObject scope;
    WhenShown<ExportSetWid>(&scope,
                            [&](ExportSetWid* dialog)
                            {
                                dialog->findChild<QComboBox*>("cmbFormat")->setCurrentIndex(1);
                                dialog->findChild<QLineEdit*>("edtOutput")->setText(output);
                                dialog->findChild<QPushButton*>("btnExport")->click();
                                auto* start = dialog->findChild<QPushButton*>("btnExport");
                                if (dialog->isVisible() && start->isEnabled())
                                    dialog->reject();
                            });
    MsgWndProbe probe(answerOk);
    page.findChild<QPushButton*>("btnExportMark")->click();

    QVector<int> shownKinds;
    for (const MsgWndProbe::Message& message : probe.Messages())
        shownKinds << message.kind;
    QCOMPARE(shownKinds, kinds);
    QVERIFY2(probe.Messages().constLast().text.startsWith(text),
             qPrintable(probe.Messages().constLast().text));
    QCOMPARE(QFileInfo::exists(output + "/data.yaml"), written);
    QCOMPARE(QFileInfo::exists(output + "/keep.txt"), !taken.isEmpty() && !written);
    QCOMPARE(QDir(m_dir->filePath("out")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
             output.startsWith(m_dir->filePath("out")) && (written || !taken.isEmpty()) ? QStringList{"set"}
                                                                                        : QStringList());
    QCOMPARE(Tree(prj->PrjPath() + "/datas"), images);
}

QTEST_MAIN(tst_ExportDialog)
#include "tst_ExportDialog.moc"
