#include "PageFixture.h"

#include "ProjectRecord.h"

#include "Nexil/NexilApi.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QTest>

void PageFixture::RedirectHome(const QString& home)
{
    qputenv("HOME", QFile::encodeName(home));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home + QStringLiteral("/.config")));
    qputenv("XDG_DATA_HOME", QFile::encodeName(home + QStringLiteral("/.local/share")));
}

bool PageFixture::MakePicture(const QString& path, const QSize& size, const QColor& colour)
{
    QDir().mkpath(QFileInfo(path).path());
    QImage image(size, QImage::Format_RGB888);
    image.fill(colour);
    return image.save(path);
}

bool PageFixture::Init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_saved = CallbackLog();
    m_projectName.clear();
    if (!m_dir->isValid() || !QDir().mkpath(FilePath(QStringLiteral("ws"))))
        return false;
    CreateNexil();
    return NexilIns().lock()->Init(FilePath(QStringLiteral("ws")));
}

void PageFixture::Cleanup()
{
    ReleaseNexil();
    m_dir.reset();
}

QString PageFixture::Path() const
{
    return m_dir->path();
}

QString PageFixture::FilePath(const QString& relative) const
{
    return m_dir->filePath(relative);
}

QString PageFixture::ProjectPath() const
{
    return FilePath(QStringLiteral("ws/") + m_projectName);
}

bool PageFixture::OpenProject(int type, const QStringList& categories, const QString& id, const QString& name)
{
    const auto spCore = NexilIns().lock();
    if (!spCore || !spCore->AddPro(MakeInfo(id, name, type)))
        return false;
    spCore->OpenPro(id);
    const auto spPrj = PrjIns().lock();
    if (!spPrj)
        return false;
    m_projectName = name;
    spPrj->SetSaveCallback(&CallbackLog::Record, &m_saved);
    for (const QString& category : categories)
    {
        if (!spPrj->AddMarkType(category))
            return false;
    }
    return true;
}

std::shared_ptr<pro::ImageInfo> PageFixture::Picture(const QString& name, const QSize& size)
{
    const QString path = FilePath(QStringLiteral("src/") + name);
    if (!MakePicture(path, size))
        qFatal("cannot write %s", qPrintable(path));
    auto record = std::make_shared<pro::ImageInfo>();
    record->path = path;
    record->fileName = QFileInfo(path).fileName();
    record->addTime = QStringLiteral("2024-05-06_07-08-09-010");
    return record;
}

void PageFixture::Store(const std::shared_ptr<pro::ImageInfo>& record)
{
    PrjIns().lock()->AddImage(record);
}

bool PageFixture::WaitForStored(int count)
{
    return QTest::qWaitFor([this, count] { return m_saved.results.size() >= count; }, 10000) &&
           m_saved.results.size() == count && !m_saved.results.contains(false);
}
