#pragma once

#include <QString>

// The settings template beside the executable, installed as the user's settings file when that file is
// missing or of another version.
namespace SettingsTemplate {

QString templatePath();
// Tests may point it elsewhere; empty restores it.
void setTemplatePathForTests(const QString& path);
// The user file exists and matches the template's version (copied from the template otherwise).
bool checkIniFile();

} // namespace SettingsTemplate
