#pragma once

#include "FakeKestranaState.h"
#include "FakeReply.h"
#include "FakeRequest.h"
#include "SelfSignedCertificate.h"

#include <QList>
#include <QString>

#include <functional>
#include <memory>

// A Kestrana server on 127.0.0.1 for tests and the demo tool: one plain HTTP and one HTTPS listener
// (self-signed certificate made at run time) on free ports, each on its own thread. It answers every
// endpoint the client uses from its state, records every request, and lets a test replace the answer
// of one path with given JSON, an error page, a delay, silence or a connection cut mid-body.
//
//   FakeKestranaServer server(FakeKestranaState::sample());
//   QVERIFY(server.start());
//   loginInfo->setKsServerUrl(server.httpsUrl());
//   server.setOverride("/User/BAS_ProjectList", FakeReply::html500());
//   ... run the client ...
//   QCOMPARE(server.lastRequest("/User/BAS_ProjectList").query, QByteArray("strUserAccount=alice"));
class FakeKestranaServer
{
public:
    explicit FakeKestranaServer(const FakeKestranaState& state = FakeKestranaState());
    ~FakeKestranaServer(); // stops
    FakeKestranaServer(const FakeKestranaServer&) = delete;
    FakeKestranaServer& operator=(const FakeKestranaServer&) = delete;

    // Binds both listeners to free ports and starts serving; false when either could not start.
    bool start();
    // Serves on one listener only, HTTPS or plain HTTP, on the given port (0 = a free one): the demo tool.
    bool startListener(bool https, int port);
    // Releases held connections, stops both listeners and waits for their threads.
    void stop();
    bool isRunning() const;

    int httpPort() const;
    int httpsPort() const;
    QString httpUrl() const; // "http://127.0.0.1:<port>", no trailing slash
    QString httpsUrl() const; // "https://127.0.0.1:<port>"
    QString url(bool https) const { return https ? httpsUrl() : httpUrl(); }

    // Request log, in arrival order, across both listeners. path is the decoded path ("/Job/BAS_CancelJob").
    QList<FakeRequest> requests() const;
    QList<FakeRequest> requestsTo(const QString& path) const;
    // The latest request (to path, when given); a default FakeRequest when there is none.
    FakeRequest lastRequest(const QString& path = QString()) const;
    int requestCount(const QString& path = QString()) const;
    void clearRequests();
    // A long-running server (the demo tool) keeps no log: requests, upload bodies included, would pile up.
    void setRecordRequests(bool record);
    // Called on the serving thread after each answered request, outside the server's lock (so it may call
    // updateState). Set it before start().
    void setRequestObserver(const std::function<void(const FakeRequest&, const FakeReply&)>& observer);

    // Answers requests to path with reply instead of the endpoint (see FakeReply for the kinds).
    void setOverride(const QString& path, const FakeReply& reply);
    void clearOverride(const QString& path);
    void clearOverrides();
    // Lets connections held by FakeReply::neverAnswer() go (they are closed without an answer).
    void releaseHeldConnections();
    int heldConnections() const;

    // State, guarded by the server's lock.
    FakeKestranaState state() const;
    void setState(const FakeKestranaState& state);
    void updateState(const std::function<void(FakeKestranaState&)>& change);

    // Conveniences over the state.
    void markQrScanned(const QString& clientId, const QString& account); // as the phone app does
    QByteArray uploadedBytes(qint64 jobId) const;
    FakeKestranaState::Job job(qint64 jobId) const;

    // The HTTPS certificate: the process-wide one unless another is set before start() (a server whose
    // certificate was replaced, for the client's certificate pinning).
    void setCertificate(const SelfSignedCertificate& certificate);
    QByteArray certificatePem() const;

private:
    struct Private;
    std::unique_ptr<Private> d;
};
