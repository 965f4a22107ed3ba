#pragma once

#include "FakeKestranaState.h"
#include "FakeReply.h"
#include "FakeRequest.h"

// The endpoints of a Kestrana server, as plain functions of a request and the state. Keys are written
// here independently of the client's records so that a typo on either side shows up in a test.
class FakeKestranaApi
{
public:
    // serverBase: "http://127.0.0.1:<port>" of the listener that took the request.
    static FakeReply handle(const FakeRequest& request, FakeKestranaState& state, const QString& serverBase);

    // The signature the site list expects: upper-case hex MD5 of timestamp + salt.
    static QByteArray signature(const QByteArray& timestamp, const QString& salt);
    // Text of a job status code as the job list shows it.
    static QString statusText(int statusId);
};
