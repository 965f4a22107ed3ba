#pragma once

#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QString>

// One job of the user's server-side job list.
class KsJob
{
public:
    KsJob() = default;
    static KsJob fromJson(const QJsonObject& json);
    // One job per element of the array, in order; elements that are not objects give empty jobs.
    static QList<KsJob> listFromJson(const QJsonValue& array);

    void read(const QJsonObject& json);

    QString getJobID() const { return m_jobID; }
    QString getJobName() const { return m_jobName; }
    QString getSubmitTimeStr() const { return m_submitTimeStr; }
    QDateTime getSubmitTime() const { return m_submitTime; }
    int getStatusID() const { return m_statusID; }
    QString getStatus() const { return m_status; }
    QString getComment() const { return m_comment; }
    QString getUserAccount() const { return m_userAccount; }
    QString getDocTypeName() const { return m_docTypeName; }
    QString getProjectName() const { return m_projectName; }
    QString getDocTypeID() const { return m_docTypeID; }
    int getDocumentPages() const { return m_documentPages; }
    int getCopies() const { return m_copies; }
    int getDuplexMode() const { return m_duplexMode; }
    bool getIsColor() const { return m_isColor; }
    bool getIsLock() const { return m_isLock; }
    double getPageHeight() const { return m_pageHeight; }
    double getPageWidth() const { return m_pageWidth; }

private:
    QString m_jobID;
    QString m_jobName;
    QString m_submitTimeStr;
    QDateTime m_submitTime;
    int m_statusID = 0;
    QString m_status;
    QString m_comment;
    QString m_userAccount;
    QString m_docTypeName;
    QString m_projectName;
    QString m_docTypeID;
    int m_documentPages = 0;
    int m_copies = 0;
    int m_duplexMode = 0;
    bool m_isColor = false;
    bool m_isLock = false;
    double m_pageHeight = 0;
    double m_pageWidth = 0;
};
