#include "server/tcpserver.h"

void TcpServer::newClientConnect()
{
}

void TcpServer::readClientData()
{
}

void TcpServer::clientDisconnected()
{
}

void TcpServer::sendFileSize()
{
}

void TcpServer::sendFileBlock()
{
}
