#pragma once

#include "FakeKestranaState.h"

#include <QByteArray>
#include <QString>

// The demo world the devserver starts with: two accounts with different print permissions, printers with and
// without card readers, fee projects, two sites, a pin code, client settings and a newer client version.
class DemoData
{
public:
    struct Options
    {
        // No fee projects and no printer without card reader: jobs go through without the printer/project dialog.
        bool plain = false;
        QByteArray package; // the update package; a small stand-in when empty
    };

    static FakeKestranaState build(const Options& options);
    // The second site, reachable at url (this server under another host name, so switching sites works).
    static FakeKestranaState::Site branchSite(const QString& url);
    // "demo accounts:" followed by one line per account and a blank line (scripts/run shows this block).
    static QString accountsText(const FakeKestranaState& state);
    // The page a phone opens from the QR code: confirms the scan for one of the demo accounts.
    static QByteArray qrPage(const FakeKestranaState& state);
};
