#include "Translations.h"

#include <QCoreApplication>
#include <QTranslator>

InstalledTranslations installTranslations(QTranslator& widgets, QTranslator& client, const QString& dir,
                                          const QString& locale)
{
    InstalledTranslations result;
    // Qt's texts first, so the client's own translation takes precedence where both know a text.
    QCoreApplication::installTranslator(&widgets);
    result.client = client.load(QStringLiteral("HalcyraClient_") + locale, dir);
    if (result.client) {
        result.widgets = widgets.load(QStringLiteral("widgets.qm"), dir);
        QCoreApplication::installTranslator(&client);
    }
    // A failed load is silent: the untranslated texts are used.
    return result;
}
