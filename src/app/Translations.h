#pragma once

#include <QString>

class QTranslator;

// The program's directory holds one "widgets.qm" (Qt's own dialog texts, for the language the client is
// translated into) and "HalcyraClient_<locale>.qm". Qt's texts are only loaded when the client has a
// translation for the locale: otherwise an English desktop would get Qt's dialogs in Chinese.
struct InstalledTranslations
{
    bool widgets = false;
    bool client = false;
};

InstalledTranslations installTranslations(QTranslator& widgets, QTranslator& client, const QString& dir,
                                          const QString& locale);
