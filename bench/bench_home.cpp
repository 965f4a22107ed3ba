// bench_home INI [Group/Key=value ...] [--encrypted Group/Key=value ...]
// Creates the user settings file from the template beside the program when it is missing, then writes
// the given keys through QSettings; values after --encrypted are stored the way saved credentials are.
#include "config/CredentialCipher.h"
#include "config/SettingsTemplate.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.isEmpty()) {
        std::fprintf(stderr, "usage: bench_home INI [Group/Key=value ...] [--encrypted Group/Key=value ...]\n");
        return 2;
    }
    const QString ini = args.first();
    if (!QFileInfo::exists(ini)) {
        QDir().mkpath(QFileInfo(ini).absolutePath());
        if (!QFile::copy(SettingsTemplate::templatePath(), ini)) {
            std::fprintf(stderr, "bench_home: cannot copy %s\n", qPrintable(SettingsTemplate::templatePath()));
            return 1;
        }
        QFile::setPermissions(ini, QFile::ReadOwner | QFile::WriteOwner);
    }

    QSettings settings(ini, QSettings::IniFormat);
    bool encrypted = false;
    for (const QString& arg : args.mid(1)) {
        if (arg == QLatin1String("--encrypted")) {
            encrypted = true;
            continue;
        }
        const int eq = arg.indexOf(QLatin1Char('='));
        if (eq <= 0) {
            std::fprintf(stderr, "bench_home: expected Group/Key=value, got %s\n", qPrintable(arg));
            return 2;
        }
        const QString key = arg.left(eq);
        const QString value = arg.mid(eq + 1);
        if (encrypted) {
            settings.setValue(key, CredentialCipher::encryptValue(value));
        } else {
            settings.setValue(key, value);
        }
    }
    settings.sync();
    return settings.status() == QSettings::NoError ? 0 : 1;
}
