#pragma once
// A folder on another file system than a given one, for tests of moves
// across volumes: /dev/shm when it is a separate tmpfs, else a tmpfs mounted
// for the test (as root). Empty path, with the reason, when neither works.
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>
#include <QTemporaryDir>
#include <cerrno>
#include <cstring>
#include <memory>

#include <sys/mount.h>
#include <sys/stat.h>

namespace ravelin::test {

inline dev_t deviceOf(const QString& path)
{
    struct stat st;
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return 0;
    return st.st_dev;
}

class OtherVolume {
public:
    explicit OtherVolume(const QString& here)
    {
        QFile mounts("/proc/mounts");
        if (mounts.open(QIODevice::ReadOnly) && mounts.readAll().contains(" /dev/shm ") &&
            deviceOf("/dev/shm") != deviceOf(here) && QFileInfo("/dev/shm").isWritable()) {
            m_tmp = std::make_unique<QTemporaryDir>("/dev/shm/ravelin-move-XXXXXX");
            if (m_tmp->isValid()) {
                m_path = m_tmp->path();
                return;
            }
        }
        const QString point = here + "/other-volume";
        QDir().mkpath(point);
        if (::mount("tmpfs", QFile::encodeName(point).constData(), "tmpfs", 0, "size=16m") == 0) {
            m_mounted = QFile::encodeName(point);
            m_path = point;
        } else {
            m_reason =
                QString("no second file system: /dev/shm is not a separate tmpfs and mount failed (%1)")
                    .arg(QString::fromLocal8Bit(std::strerror(errno)));
        }
    }
    ~OtherVolume()
    {
        m_tmp.reset();
        if (!m_mounted.isEmpty())
            ::umount2(m_mounted.constData(), MNT_DETACH);
    }
    OtherVolume(const OtherVolume&) = delete;
    OtherVolume& operator=(const OtherVolume&) = delete;

    QString path() const { return m_path; }
    QString reason() const { return m_reason; }

private:
    std::unique_ptr<QTemporaryDir> m_tmp;
    QByteArray m_mounted;
    QString m_path;
    QString m_reason;
};

} // namespace ravelin::test
