#pragma once

#include <QString>

#include <optional>

// setting/ServerCertificate: how the client trusts an "https" server (ServerTrust applies it).
enum class CertificateRule { Pin, Any, System };

// "pin", "any" or "system" in any letter case, spaces around ignored; nothing for anything else.
inline std::optional<CertificateRule> parseCertificateRule(const QString& text)
{
    const QString word = text.trimmed().toLower();
    if (word == QLatin1String("pin")) {
        return CertificateRule::Pin;
    }
    if (word == QLatin1String("any")) {
        return CertificateRule::Any;
    }
    if (word == QLatin1String("system")) {
        return CertificateRule::System;
    }
    return std::nullopt;
}

// The rule as the settings file spells it.
inline QString certificateRuleName(CertificateRule rule)
{
    switch (rule) {
    case CertificateRule::Any:
        return QStringLiteral("any");
    case CertificateRule::System:
        return QStringLiteral("system");
    case CertificateRule::Pin:
        break;
    }
    return QStringLiteral("pin");
}
