#pragma once

#include <QDialog>
#include <QScopedPointer>
#include <QString>

class KsKit;
class QStandardItemModel;

namespace Ui {
class ServerDialog;
}

// Lists the sites known to the server so the user can pick one before logging in.
class ServerDialog : public QDialog
{
    Q_OBJECT
public:
    // Asks serverUrl for its sites at once, through api.
    ServerDialog(KsKit& api, const QString& serverUrl, QWidget* parent = nullptr);
    ~ServerDialog() override;

    QString siteUrl() const { return m_siteUrl; }
    QString siteName() const { return m_siteName; }
    QStandardItemModel* model() const { return m_model; }

signals:
    // The site list answer was handled (whatever it said).
    void loaded();

private slots:
    void on_btnYes_clicked();

private:
    void loadServerData(KsKit& api, const QString& serverUrl);

    const QScopedPointer<Ui::ServerDialog> m_ui;
    QStandardItemModel* m_model = nullptr;
    QString m_siteUrl;
    QString m_siteName;
};
