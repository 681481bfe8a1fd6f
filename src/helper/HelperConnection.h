#pragma once

#include "platform/IPCFrame.h"

#include <QJsonObject>
#include <QObject>
#include <qcoro/qcorotask.h>

class QLocalSocket;

namespace tarnwick {

class HelperService;

// One accepted client: reads request frames, has the service answer each, and writes the replies back in
// the order they finish. A bad frame ends the connection.
class HelperConnection final : public QObject
{
    Q_OBJECT

public:
    HelperConnection(qintptr socketDescriptor, HelperService* service, QObject* parent = nullptr);

private:
    void readFrames();
    QCoro::Task<> answer(QJsonObject request);

    QLocalSocket* m_socket;
    HelperService* m_service;
    IPCFrame::Reader m_reader;
    qint64 m_clientPid = 0; // the peer process, from the socket's credentials
};

} // namespace tarnwick
