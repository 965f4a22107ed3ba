#pragma once

#include <QObject>

// Whether the machine is online, as the platform's network configuration reports it. The framework class
// behind it is deprecated; it stays confined to this wrapper.
class OnlineState : public QObject
{
    Q_OBJECT
public:
    explicit OnlineState(QObject* parent = nullptr);
    ~OnlineState() override;

    bool isOnline() const;

    // Tests: force the answer of isOnline() for every instance (-1 restores the platform's answer).
    static void setForcedForTests(int online);

signals:
    // Reported once isOnline() has been asked.
    void onlineStateChanged(bool online);

private:
    mutable QObject* m_manager = nullptr;
};
