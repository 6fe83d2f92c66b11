#pragma once

#include "CallbackLog.h"

#include "Nexil/ImageInfo.h"

#include <QColor>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

// What the page tests share: a temporary folder with an initialised workspace "ws", a project opened in
// it whose store results are recorded, and pictures made on disk. The functions return false where a
// step failed, for the test to QVERIFY.
class PageFixture
{
public:
    // Points HOME and the XDG folders into home, so that no test reads or leaves the user's settings.
    static void RedirectHome(const QString& home);
    // A plain picture of the given size, its folder made first.
    static bool MakePicture(const QString& path, const QSize& size = QSize(200, 100),
                            const QColor& colour = QColor(90, 110, 120));

    // A fresh temporary folder and a core library initialised on its workspace.
    bool Init();
    // Releases the core library and removes the folder.
    void Cleanup();

    QString Path() const;
    QString FilePath(const QString& relative) const;
    // The folder of the project opened by OpenProject.
    QString ProjectPath() const;

    // Adds the project id named name of the given type, opens it and adds the categories.
    bool OpenProject(int type, const QStringList& categories = {}, const QString& id = QStringLiteral("P1"),
                     const QString& name = QStringLiteral("螺丝"));
    // A record of a picture made at src/ + name, as an import leaves it before the store.
    std::shared_ptr<pro::ImageInfo> Picture(const QString& name, const QSize& size = QSize(200, 100));
    // Hands the record to the open project's store.
    void Store(const std::shared_ptr<pro::ImageInfo>& record);
    // Waits until the store has answered count adds in all, all of them successfully.
    bool WaitForStored(int count);

    const CallbackLog& Saved() const { return m_saved; }

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_projectName;
    CallbackLog m_saved;
};
