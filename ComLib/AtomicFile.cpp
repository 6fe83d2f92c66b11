#include "ComLib/AtomicFile.h"

#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_WIN
#include <QSaveFile>
#else
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace comlib
{

#ifdef Q_OS_WIN

bool WriteFileAtomically(const QString& path, const QByteArray& data, QString& error)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size() || !file.commit())
    {
        error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}

#else

namespace
{

QString Reason(const QString& what, const QString& path)
{
    return QStringLiteral("cannot %1 %2: %3").arg(what, path, QString::fromLocal8Bit(std::strerror(errno)));
}

bool WriteAll(int fd, const QByteArray& data)
{
    const char* p = data.constData();
    qint64 left = data.size();
    while (left > 0)
    {
        const ssize_t n = ::write(fd, p, size_t(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
        {
            if (n == 0)
                errno = ENOSPC;
            return false;
        }
        p += n;
        left -= n;
    }
    return true;
}

// Syncs the folder's entry list; file systems that cannot sync a folder say EINVAL, which is no loss.
bool SyncFolder(const QString& folder)
{
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = ::fsync(fd) == 0 || errno == EINVAL;
    const int saved = errno;
    ::close(fd);
    errno = saved;
    return ok;
}

} // namespace

bool WriteFileAtomically(const QString& path, const QByteArray& data, QString& error)
{
    static std::atomic<unsigned> counter{0};
    const QFileInfo info(path);
    const QString folder = info.absolutePath();
    QString temp;
    int fd = -1;
    // A name of our own that no other writer (thread or process) picks at the same time.
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt)
    {
        temp = QStringLiteral("%1/.%2.%3-%4.tmp")
                   .arg(folder, info.fileName())
                   .arg(::getpid())
                   .arg(counter.fetch_add(1));
        fd = ::open(QFile::encodeName(temp).constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                    0666);
        if (fd < 0 && errno != EEXIST)
            break;
    }
    if (fd < 0)
    {
        error = Reason(QStringLiteral("create a file beside"), path);
        return false;
    }
    const QByteArray tempName = QFile::encodeName(temp);
    const auto fail = [&](const QString& what)
    {
        error = Reason(what, path);
        const int saved = errno;
        if (fd >= 0)
            ::close(fd);
        ::unlink(tempName.constData());
        errno = saved;
        return false;
    };
    if (!WriteAll(fd, data))
        return fail(QStringLiteral("write"));
    if (::fsync(fd) != 0)
        return fail(QStringLiteral("sync"));
    const int closed = ::close(fd);
    fd = -1;
    if (closed != 0)
        return fail(QStringLiteral("close"));
    if (::rename(tempName.constData(), QFile::encodeName(info.absoluteFilePath()).constData()) != 0)
        return fail(QStringLiteral("rename the new file to"));
    if (!SyncFolder(folder))
    {
        error = Reason(QStringLiteral("sync the folder of"), path);
        return false;
    }
    return true;
}

#endif

} // namespace comlib
