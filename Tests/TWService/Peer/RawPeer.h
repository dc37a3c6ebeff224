// A raw blocking client on 127.0.0.1 that says byte by byte what a hostile or confused peer
// would; a hung server fails the test through the receive time-out instead of hanging it.
#pragma once

#include "TWService/Server/TWWire.h"
#include "TWService/Socket/SocketTestSupport.h"

#include <QByteArray>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cerrno>
#include <functional>
#include <netinet/in.h>
#include <optional>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

struct RawPeer {
    int fd = -1;
    explicit RawPeer(quint16 port) : RawPeer(port, nullptr) {}
    // beforeConnect learns the local port the connection will come from, before the server
    // can see it.
    RawPeer(quint16 port, const std::function<void(quint16 localPort)>& beforeConnect)
    {
        fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (beforeConnect) {
            EXPECT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
            socklen_t len = sizeof a;
            ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
            beforeConnect(ntohs(a.sin_port));
        }
        a.sin_port = htons(port);
        EXPECT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        timeval tv{20, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    }
    ~RawPeer() { close(); }
    RawPeer(const RawPeer&) = delete;
    RawPeer& operator=(const RawPeer&) = delete;
    void close()
    {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
    void send(const QByteArray& bytes) const { ::send(fd, bytes.constData(), std::size_t(bytes.size()), MSG_NOSIGNAL); }
    // Up to n bytes: fewer when the other end closed or went quiet.
    QByteArray recv(qsizetype n) const { return sockettest::recvExactly(fd, n); }
    std::optional<quint32> word() const
    {
        const QByteArray out = recv(4);
        if (out.size() < 4)
            return std::nullopt;
        return TWWire::readU32(out);
    }
    // Without waiting: true when the server has closed (or reset) the connection by now.
    bool closedYet() const
    {
        char c;
        const ssize_t r = ::recv(fd, &c, 1, MSG_DONTWAIT);
        return r == 0 || (r < 0 && errno != EAGAIN && errno != EWOULDBLOCK);
    }
    // True when the server closed: the next read ends the stream.
    bool closedByServer() const
    {
        char c;
        return ::recv(fd, &c, 1, 0) == 0;
    }
    // Closed or reset (bytes sent after the close), but not merely quiet.
    bool closedOrReset() const
    {
        char c;
        const ssize_t r = ::recv(fd, &c, 1, 0);
        return r == 0 || (r < 0 && errno != EAGAIN && errno != EWOULDBLOCK);
    }
};
