#include "app/registryaccess.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

#include <memory>

namespace tessel {
namespace {

// A value's data with its NUL must fit this buffer, as the query gives it.
constexpr int kValueBufferBytes = 256;

QString g_localMachineFolder;
QString g_currentUserFolder;

#ifndef Q_OS_WIN
// The system's configuration folder for the machine's values, fixed: no
// environment variable may move it. The user's own for the user's.
QString DefaultFolder(RegistryRoot root)
{
    if (root == RegistryRoot::LocalMachine) return QStringLiteral("/etc/xdg");
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
}
#endif

std::unique_ptr<QSettings> OpenStore(RegistryRoot root, const QString& key)
{
#ifdef Q_OS_WIN
    const QString hive = root == RegistryRoot::LocalMachine ? QStringLiteral("HKEY_LOCAL_MACHINE\\")
                                                            : QStringLiteral("HKEY_CURRENT_USER\\");
    // The installer is a 32-bit program: what it writes under the machine's
    // "Software" lands in the 32-bit view, which a 64-bit program must ask
    // for by name. The user's values are not redirected.
    const QSettings::Format format =
        root == RegistryRoot::LocalMachine ? QSettings::Registry32Format : QSettings::NativeFormat;
    auto settings = std::make_unique<QSettings>(hive + key, format);
#else
    auto settings = std::make_unique<QSettings>(CRegistryAccess::StorePath(root), QSettings::IniFormat);
    settings->beginGroup(key);
#endif
    return settings;
}

bool KeyExists(QSettings& settings)
{
    return !settings.childKeys().isEmpty() || !settings.childGroups().isEmpty();
}

}  // namespace

void CRegistryAccess::SetStoreFolders(const QString& localMachine, const QString& currentUser)
{
    g_localMachineFolder = localMachine;
    g_currentUserFolder = currentUser;
}

QString CRegistryAccess::StorePath(RegistryRoot root)
{
#ifdef Q_OS_WIN
    return root == RegistryRoot::LocalMachine ? QStringLiteral("HKEY_LOCAL_MACHINE")
                                              : QStringLiteral("HKEY_CURRENT_USER");
#else
    QString folder = root == RegistryRoot::LocalMachine ? g_localMachineFolder : g_currentUserFolder;
    if (folder.isEmpty()) folder = DefaultFolder(root);
    return QDir(folder).filePath(QStringLiteral("tessel/registry.ini"));
#endif
}

bool CRegistryAccess::ReadString(const QString& key, const char* valueName, QString* result, RegistryRoot root)
{
    if (!result) return false;
    result->clear();
    const auto settings = OpenStore(root, key);
    if (settings->status() != QSettings::NoError || !KeyExists(*settings)) return false;
    const QString name = QString::fromUtf8(valueName);
    if (!settings->contains(name)) return false;
    const QByteArray data = settings->value(name).toString().toUtf8();
    if (data.size() + 1 > kValueBufferBytes) return false;
    // The text ends at its first NUL, as a string read into a buffer does.
    const qsizetype end = data.indexOf('\0');
    *result = QString::fromUtf8(end < 0 ? data : data.left(end));
    return true;
}

int CRegistryAccess::WriteString(const QString& key, const char* valueName, const QString& text, RegistryRoot root)
{
#ifndef Q_OS_WIN
    // The store's folder is made as the registry makes a missing key.
    QDir().mkpath(QFileInfo(StorePath(root)).absolutePath());
#endif
    const auto settings = OpenStore(root, key);
    if (settings->status() != QSettings::NoError || !settings->isWritable()) return 0;
    const bool created = !KeyExists(*settings);
    settings->setValue(QString::fromUtf8(valueName), text);
    settings->sync();
    if (settings->status() != QSettings::NoError) return 0;
    return created ? 3 : 1;
}

}  // namespace tessel
