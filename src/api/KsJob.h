#pragma once

#include "JsonSerializable.h"

#include <QDateTime>
#include <QList>
#include <QString>

// One job of the user's server-side job list.
class KsJob : public JsonSerializable
{
public:
    KsJob() = default;
    static KsJob fromJson(const QJsonObject& json);
    // One job per element of the array, in order; elements that are not objects give empty jobs.
    static QList<KsJob> listFromJson(const QJsonValue& array);

    void read(const QJsonObject& json) override;
    void write(QJsonObject& json) const override;

    QString getJobID() const { return m_jobID; }
    void setJobID(const QString& v) { m_jobID = v; }
    QString getJobName() const { return m_jobName; }
    void setJobName(const QString& v) { m_jobName = v; }
    QString getSubmitTimeStr() const { return m_submitTimeStr; }
    void setSubmitTimeStr(const QString& v) { m_submitTimeStr = v; }
    QDateTime getSubmitTime() const { return m_submitTime; }
    void setSubmitTime(const QDateTime& v) { m_submitTime = v; }
    int getStatusID() const { return m_statusID; }
    void setStatusID(int v) { m_statusID = v; }
    QString getStatus() const { return m_status; }
    void setStatus(const QString& v) { m_status = v; }
    QString getComment() const { return m_comment; }
    void setComment(const QString& v) { m_comment = v; }
    QString getUserAccount() const { return m_userAccount; }
    void setUserAccount(const QString& v) { m_userAccount = v; }
    QString getDocTypeName() const { return m_docTypeName; }
    void setDocTypeName(const QString& v) { m_docTypeName = v; }
    QString getProjectName() const { return m_projectName; }
    void setProjectName(const QString& v) { m_projectName = v; }
    QString getDocTypeID() const { return m_docTypeID; }
    void setDocTypeID(const QString& v) { m_docTypeID = v; }
    int getDocumentPages() const { return m_documentPages; }
    void setDocumentPages(int v) { m_documentPages = v; }
    int getCopies() const { return m_copies; }
    void setCopies(int v) { m_copies = v; }
    int getDuplexMode() const { return m_duplexMode; }
    void setDuplexMode(int v) { m_duplexMode = v; }
    bool getIsColor() const { return m_isColor; }
    void setIsColor(bool v) { m_isColor = v; }
    bool getIsLock() const { return m_isLock; }
    void setIsLock(bool v) { m_isLock = v; }
    double getPageHeight() const { return m_pageHeight; }
    void setPageHeight(double v) { m_pageHeight = v; }
    double getPageWidth() const { return m_pageWidth; }
    void setPageWidth(double v) { m_pageWidth = v; }

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
