#pragma once

#include <QJsonObject>
#include <QList>
#include <QString>

// One site of the site list: its server address and the client address range that belongs to it.
class Segments
{
public:
    QString siteUrl; // SiteUrl
    QString startIp; // StartIP
    QString endIp; // EndIP
    QString siteName; // SiteName
    QString location; // Location

    static Segments fromJson(const QJsonObject& json);
    // The elements of "SegmentList".
    static QList<Segments> listFromJson(const QJsonValue& array);
};
