#include "OnlineState.h"

// QNetworkConfigurationManager is deprecated in Qt 5.15 but still the platform's online check.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <QNetworkConfigurationManager>

namespace {
int g_forced = -1;
}

OnlineState::OnlineState(QObject* parent)
    : QObject(parent)
{ }

OnlineState::~OnlineState() = default;

bool OnlineState::isOnline() const
{
    if (g_forced >= 0) {
        return g_forced != 0;
    }
    // Made on the first question: it loads the bearer plugins and D-Bus, which start-up does not need.
    if (!m_manager) {
        auto* self = const_cast<OnlineState*>(this);
        auto* manager = new QNetworkConfigurationManager(self);
        m_manager = manager;
        connect(manager, &QNetworkConfigurationManager::onlineStateChanged, self, &OnlineState::onlineStateChanged);
    }
    return static_cast<QNetworkConfigurationManager*>(m_manager)->isOnline();
}

void OnlineState::setForcedForTests(int online)
{
    g_forced = online;
}

#pragma GCC diagnostic pop
