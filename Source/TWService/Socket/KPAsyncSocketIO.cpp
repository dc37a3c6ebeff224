// The socket's data path: read and write queues, the readiness sources, partial progress and the
// time-outs the delegate may extend.
#include "TWService/Socket/KPAsyncSocket.h"

#include "TWService/Socket/KPAsyncSocketFlags.h"
#include "TWService/Socket/KPAsyncSocketPackets.h"

#include <QtGlobal>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace kpsocket;
using platform::DispatchSource;
using platform::Error;

Error kpReadTimeoutError();
Error kpWriteTimeoutError();
Error kpReadMaxedOutError();
Error kpConnectionClosedError();

namespace {

using ReadPacketPtr = std::shared_ptr<KPAsyncReadPacket>;
using WritePacketPtr = std::shared_ptr<KPAsyncWritePacket>;
using SpecialPtr = std::shared_ptr<KPAsyncSpecialPacket>;

// What a time-out tells the delegate of the packet in flight: its tag, the time it was given so
// far and the bytes it has moved.
struct Timing {
    long tag = 0;
    double elapsed = 0;
    std::uint64_t done = 0;
};

template <class Packet>
Timing timingOf(const Packet& packet)
{
    return {packet.tag, packet.timeout, packet.bytesDone};
}

std::chrono::milliseconds toMs(double seconds)
{
    return std::chrono::milliseconds(qint64(std::ceil(seconds * 1000)));
}

ssize_t recvNoIntr(int fd, char* into, std::size_t n)
{
    ssize_t r;
    do {
        r = ::recv(fd, into, n, 0);
    } while (r < 0 && errno == EINTR);
    return r;
}

ssize_t sendNoIntr(int fd, const char* from, std::size_t n)
{
    ssize_t r;
    do {
        r = ::send(fd, from, n, MSG_NOSIGNAL);
    } while (r < 0 && errno == EINTR);
    return r;
}

} // namespace

// ---- requests

void KPAsyncSocket::enqueueRead(std::shared_ptr<KPAsyncReadPacket> packet)
{
    m_socketQueue.async([self = shared_from_this(), packet = std::move(packet)] {
        if ((self->m_flags & kSocketStarted) && !(self->m_flags & kForbidReadsWrites)) {
            self->m_readQueue.emplace_back(packet);
            self->maybeDequeueRead();
        }
    });
}

void KPAsyncSocket::readDataWithTimeout(double timeout, long tag)
{
    readDataWithTimeout(timeout, nullptr, 0, 0, tag);
}

void KPAsyncSocket::readDataWithTimeout(double timeout, std::shared_ptr<QByteArray> buffer, std::uint64_t offset,
                                        long tag)
{
    readDataWithTimeout(timeout, std::move(buffer), offset, 0, tag);
}

void KPAsyncSocket::readDataWithTimeout(double timeout, std::shared_ptr<QByteArray> buffer, std::uint64_t offset,
                                        std::uint64_t maxLength, long tag)
{
    if (buffer && offset > std::uint64_t(buffer->size()))
        return;
    enqueueRead(std::make_shared<KPAsyncReadPacket>(std::move(buffer), offset, maxLength, timeout, 0, QByteArray(), tag));
}

void KPAsyncSocket::readDataToLength(std::uint64_t length, double timeout, long tag)
{
    readDataToLength(length, timeout, nullptr, 0, tag);
}

void KPAsyncSocket::readDataToLength(std::uint64_t length, double timeout, std::shared_ptr<QByteArray> buffer,
                                     std::uint64_t offset, long tag)
{
    if (length == 0)
        return;
    if (buffer && offset > std::uint64_t(buffer->size()))
        return;
    enqueueRead(std::make_shared<KPAsyncReadPacket>(std::move(buffer), offset, 0, timeout, length, QByteArray(), tag));
}

void KPAsyncSocket::readDataToData(const QByteArray& data, double timeout, long tag)
{
    readDataToData(data, timeout, nullptr, 0, 0, tag);
}

void KPAsyncSocket::readDataToData(const QByteArray& data, double timeout, std::uint64_t maxLength, long tag)
{
    readDataToData(data, timeout, nullptr, 0, maxLength, tag);
}

void KPAsyncSocket::readDataToData(const QByteArray& data, double timeout, std::shared_ptr<QByteArray> buffer,
                                   std::uint64_t offset, std::uint64_t maxLength, long tag)
{
    if (data.isEmpty())
        return;
    if (buffer && offset > std::uint64_t(buffer->size()))
        return;
    if (maxLength > 0 && maxLength < std::uint64_t(data.size()))
        return;
    enqueueRead(std::make_shared<KPAsyncReadPacket>(std::move(buffer), offset, maxLength, timeout, 0, data, tag));
}

void KPAsyncSocket::writeData(const QByteArray& data, double timeout, long tag)
{
    if (data.isEmpty())
        return;
    auto packet = std::make_shared<KPAsyncWritePacket>(data, timeout, tag);
    m_socketQueue.async([self = shared_from_this(), packet] {
        if ((self->m_flags & kSocketStarted) && !(self->m_flags & kForbidReadsWrites)) {
            self->m_writeQueue.emplace_back(packet);
            self->maybeDequeueWrite();
        }
    });
}

float KPAsyncSocket::progressOfReadReturningTag(long* tag, std::uint64_t* done, std::uint64_t* total) const
{
    return onSocketQueueSync([&] {
        ReadPacketPtr packet;
        if (m_currentRead && std::holds_alternative<ReadPacketPtr>(*m_currentRead))
            packet = std::get<ReadPacketPtr>(*m_currentRead);
        if (!packet) {
            if (tag)
                *tag = 0;
            if (done)
                *done = 0;
            if (total)
                *total = 0;
            return std::nanf("");
        }
        if (tag)
            *tag = packet->tag;
        if (done)
            *done = packet->bytesDone;
        if (total)
            *total = packet->readLength;
        return packet->readLength > 0 ? float(double(packet->bytesDone) / double(packet->readLength)) : 1.0f;
    });
}

float KPAsyncSocket::progressOfWriteReturningTag(long* tag, std::uint64_t* done, std::uint64_t* total) const
{
    return onSocketQueueSync([&] {
        WritePacketPtr packet;
        if (m_currentWrite && std::holds_alternative<WritePacketPtr>(*m_currentWrite))
            packet = std::get<WritePacketPtr>(*m_currentWrite);
        if (!packet) {
            if (tag)
                *tag = 0;
            if (done)
                *done = 0;
            if (total)
                *total = 0;
            return std::nanf("");
        }
        if (tag)
            *tag = packet->tag;
        if (done)
            *done = packet->bytesDone;
        if (total)
            *total = std::uint64_t(packet->buffer.size());
        return float(double(packet->bytesDone) / double(packet->buffer.size()));
    });
}

void KPAsyncSocket::startTLS(const QVariantMap& settings)
{
    auto marker = std::make_shared<KPAsyncSpecialPacket>(settings);
    m_socketQueue.async([self = shared_from_this(), marker] {
        if ((self->m_flags & kSocketStarted) && !(self->m_flags & kQueuedTLS) && !(self->m_flags & kForbidReadsWrites)) {
            self->m_readQueue.emplace_back(marker);
            self->m_writeQueue.emplace_back(marker);
            self->m_flags |= kQueuedTLS;
            self->maybeDequeueRead();
            self->maybeDequeueWrite();
        }
    });
}

// ---- readiness sources

void KPAsyncSocket::setupReadAndWriteSourcesForNewlyConnectedSocket(int fd)
{
    if (!(m_flags & kConnected))
        return; // closed before the set-up ran (the descriptor went with the close)
    m_readSource = std::make_unique<DispatchSource>(fd, DispatchSource::Kind::Read, m_socketQueue);
    m_writeSource = std::make_unique<DispatchSource>(fd, DispatchSource::Kind::Write, m_socketQueue);
    std::weak_ptr<KPAsyncSocket> weak = shared_from_this();
    m_readSource->setEventHandler([weak](std::size_t available) {
        auto s = weak.lock();
        if (!s)
            return;
        s->m_socketFDBytesAvailable = available;
        if (available > 0)
            s->doReadData();
        else
            s->doReadEOF();
    });
    m_writeSource->setEventHandler([weak](std::size_t) {
        auto s = weak.lock();
        if (!s)
            return;
        s->m_flags |= kSocketCanAcceptBytes;
        s->doWriteData();
    });
    // The last of the two cancel handlers closes the descriptor.
    auto count = std::make_shared<std::atomic<int>>(2);
    auto closer = [count, fd, ticket = std::move(m_descriptorTicket)] {
        if (--*count == 0)
            ::close(fd);
    };
    m_readSource->setCancelHandler(closer);
    m_writeSource->setCancelHandler(closer);
    m_socketFDBytesAvailable = 0;
    m_flags &= ~kReadSourceSuspended;
    m_readSource->resume();
    m_flags |= kSocketCanAcceptBytes | kWriteSourceSuspended;
}

void KPAsyncSocket::suspendReadSource()
{
    if (!(m_flags & kReadSourceSuspended) && m_readSource) {
        m_readSource->suspend();
        m_flags |= kReadSourceSuspended;
    }
}

void KPAsyncSocket::resumeReadSource()
{
    if ((m_flags & kReadSourceSuspended) && m_readSource) {
        m_readSource->resume();
        m_flags &= ~kReadSourceSuspended;
    }
}

void KPAsyncSocket::suspendWriteSource()
{
    if (!(m_flags & kWriteSourceSuspended) && m_writeSource) {
        m_writeSource->suspend();
        m_flags |= kWriteSourceSuspended;
    }
}

void KPAsyncSocket::resumeWriteSource()
{
    if ((m_flags & kWriteSourceSuspended) && m_writeSource) {
        m_writeSource->resume();
        m_flags &= ~kWriteSourceSuspended;
    }
}

// ---- reading

void KPAsyncSocket::maybeDequeueRead()
{
    if (m_currentRead || !(m_flags & kConnected))
        return;
    if (!m_readQueue.empty()) {
        m_currentRead = std::move(m_readQueue.front());
        m_readQueue.pop_front();
        if (std::holds_alternative<SpecialPtr>(*m_currentRead)) {
            m_flags |= kStartingReadTLS;
            maybeStartTLS();
        } else {
            setupTimerWithTimeout(Side::Read, std::get<ReadPacketPtr>(*m_currentRead)->timeout);
            doReadData();
        }
    } else if (m_flags & kDisconnectAfterReads) {
        if (m_flags & kDisconnectAfterWrites) {
            if (m_writeQueue.empty() && !m_currentWrite)
                closeWithError(std::nullopt);
        } else {
            closeWithError(std::nullopt);
        }
    } else if (m_flags & kSocketSecure) {
        flushSSLBuffers();
        if (m_preBuffer->availableBytes() == 0)
            resumeReadSource();
    }
}

void KPAsyncSocket::doReadData()
{
    ReadPacketPtr packet;
    if (m_currentRead && std::holds_alternative<ReadPacketPtr>(*m_currentRead))
        packet = std::get<ReadPacketPtr>(*m_currentRead);
    if (!m_currentRead || (m_flags & kReadsPaused)) {
        if (m_flags & kSocketSecure)
            flushSSLBuffers();
        // Nothing can take the bytes now; stop the source from firing for them.
        if (m_socketFDBytesAvailable > 0)
            suspendReadSource();
        return;
    }
    const bool secure = m_flags & kSocketSecure;
    std::uint64_t estimate = m_socketFDBytesAvailable;
    if (secure)
        estimate += (m_sslPreBuffer ? m_sslPreBuffer->availableBytes() : 0) + sslBufferedReadCount();
    if (estimate == 0 && m_preBuffer->availableBytes() == 0) {
        resumeReadSource();
        return;
    }
    if (m_flags & kStartingReadTLS) {
        if (m_flags & kStartingWriteTLS)
            sslContinueSSLHandshake();
        else
            suspendReadSource();
        return;
    }
    if (!packet)
        return;

    bool done = false;
    bool waiting = false;
    bool socketEOF = (m_flags & kReadEOF) != 0;
    std::optional<Error> error;
    std::uint64_t totalBytesReadForCurrentRead = 0;

    // 1. From the pre-buffer.
    if (m_preBuffer->availableBytes() > 0) {
        std::uint64_t toCopy;
        bool found = false;
        if (packet->isTermRead())
            toCopy = packet->readLengthForTermWithPreBuffer(*m_preBuffer, &found);
        else
            toCopy = packet->readLengthForNonTermWithHint(m_preBuffer->availableBytes());
        packet->ensureCapacityForAdditionalDataOfLength(toCopy);
        std::memcpy(packet->buffer->data() + packet->startOffset + packet->bytesDone, m_preBuffer->readBuffer(),
                    std::size_t(toCopy));
        m_preBuffer->didRead(std::size_t(toCopy));
        packet->bytesDone += toCopy;
        totalBytesReadForCurrentRead += toCopy;
        if (packet->readLength > 0) {
            done = packet->bytesDone == packet->readLength;
        } else if (packet->isTermRead()) {
            if (found)
                done = true;
            else if (packet->maxLength > 0 && packet->bytesDone >= packet->maxLength)
                error = kpReadMaxedOutError();
        } else {
            done = packet->maxLength > 0 && packet->bytesDone == packet->maxLength;
        }
    }

    // 2. From the connection.
    if (!done && !error && !socketEOF && estimate > 0) {
        Q_ASSERT_X(m_preBuffer->availableBytes() == 0, "KPAsyncSocket", "Invalid logic");
        bool readIntoPreBuffer = false;
        std::uint64_t bytesToRead;
        if (packet->isTermRead())
            bytesToRead = packet->readLengthForTermWithHint(estimate, &readIntoPreBuffer);
        else
            bytesToRead = packet->readLengthForNonTermWithHint(estimate);
        char* target;
        if (readIntoPreBuffer) {
            m_preBuffer->ensureCapacityForWrite(std::size_t(bytesToRead));
            target = m_preBuffer->writeBuffer();
        } else {
            packet->ensureCapacityForAdditionalDataOfLength(bytesToRead);
            target = packet->buffer->data() + packet->startOffset + packet->bytesDone;
        }

        std::uint64_t bytesRead = 0;
        if (secure) {
            std::size_t got = 0;
            const int status = sslRead(target, std::size_t(bytesToRead), &got);
            bytesRead = got;
            if (status == errSSLWouldBlock) {
                waiting = true;
            } else if (status == errSSLClosedGraceful || status == errSSLClosedAbort) {
                socketEOF = true;
                m_sslErrCode = status;
            } else if (status != noErr) {
                error = sslError(status);
            }
        } else {
            const int fd = m_socket4FD >= 0 ? m_socket4FD : m_socket6FD;
            const ssize_t r = recvNoIntr(fd, target, std::size_t(bytesToRead));
            if (r < 0) {
                if (errno == EWOULDBLOCK || errno == EAGAIN)
                    waiting = true;
                else
                    error = errnoErrorWithReason(QStringLiteral("Error in read() function"));
                m_socketFDBytesAvailable = 0;
            } else if (r == 0) {
                socketEOF = true;
                m_socketFDBytesAvailable = 0;
            } else {
                bytesRead = std::uint64_t(r);
                if (bytesRead < bytesToRead)
                    m_socketFDBytesAvailable = 0;
                else
                    m_socketFDBytesAvailable -= std::min(m_socketFDBytesAvailable, bytesRead);
                if (m_socketFDBytesAvailable == 0)
                    waiting = true;
            }
        }

        if (bytesRead > 0) {
            if (packet->readLength > 0) {
                packet->bytesDone += bytesRead;
                totalBytesReadForCurrentRead += bytesRead;
                done = packet->bytesDone == packet->readLength;
            } else if (packet->isTermRead()) {
                if (readIntoPreBuffer) {
                    m_preBuffer->didWrite(std::size_t(bytesRead));
                    bool found = false;
                    const std::uint64_t toCopy = packet->readLengthForTermWithPreBuffer(*m_preBuffer, &found);
                    packet->ensureCapacityForAdditionalDataOfLength(toCopy);
                    std::memcpy(packet->buffer->data() + packet->startOffset + packet->bytesDone,
                                m_preBuffer->readBuffer(), std::size_t(toCopy));
                    m_preBuffer->didRead(std::size_t(toCopy));
                    packet->bytesDone += toCopy;
                    totalBytesReadForCurrentRead += toCopy;
                    if (found)
                        done = true;
                    else if (packet->maxLength > 0 && packet->bytesDone >= packet->maxLength)
                        error = kpReadMaxedOutError();
                } else {
                    const std::int64_t overflow = packet->searchForTermAfterPreBuffering(std::int64_t(bytesRead));
                    if (overflow == -1) {
                        packet->bytesDone += bytesRead;
                        totalBytesReadForCurrentRead += bytesRead;
                        if (packet->maxLength > 0 && packet->bytesDone >= packet->maxLength)
                            error = kpReadMaxedOutError();
                    } else {
                        // The bytes after the terminator belong to the next read.
                        const std::uint64_t underflow = bytesRead - std::uint64_t(overflow);
                        const char* after = packet->buffer->constData() + packet->startOffset + packet->bytesDone + underflow;
                        m_preBuffer->ensureCapacityForWrite(std::size_t(overflow));
                        std::memcpy(m_preBuffer->writeBuffer(), after, std::size_t(overflow));
                        m_preBuffer->didWrite(std::size_t(overflow));
                        packet->bytesDone += underflow;
                        totalBytesReadForCurrentRead += underflow;
                        done = true;
                    }
                }
            } else {
                packet->bytesDone += bytesRead;
                totalBytesReadForCurrentRead += bytesRead;
                done = true;
            }
        }
    }

    if (!done && packet->readLength == 0 && !packet->isTermRead() && totalBytesReadForCurrentRead > 0)
        done = true; // an available-data read takes what came

    if (done) {
        completeCurrentRead();
        if (!error && (!socketEOF || m_preBuffer->availableBytes() > 0))
            maybeDequeueRead();
    } else if (totalBytesReadForCurrentRead > 0) {
        const long tag = packet->tag;
        notifyDelegate([totalBytesReadForCurrentRead, tag](KPAsyncSocketDelegate& d, const KPAsyncSocketPtr& s) {
            d.didReadPartialDataOfLength(s, totalBytesReadForCurrentRead, tag);
        });
    }

    if (error)
        closeWithError(error);
    else if (socketEOF)
        doReadEOF();
    else if (waiting)
        resumeReadSource();
    else if (secure && !done && totalBytesReadForCurrentRead > 0)
        // The estimate counts raw TLS bytes, not plain ones: what the TLS layer still holds
        // raises no readiness event, so the read goes on from here.
        m_socketQueue.async([self = shared_from_this()] { self->doReadData(); });
}

void KPAsyncSocket::doReadEOF()
{
    m_flags |= kReadEOF;
    if (m_flags & kSocketSecure)
        flushSSLBuffers();
    bool shouldDisconnect = false;
    std::optional<Error> error;
    if ((m_flags & kStartingReadTLS) || (m_flags & kStartingWriteTLS)) {
        shouldDisconnect = true;
        error = sslError(errSSLClosedAbort);
    } else if (m_flags & kReadStreamClosed) {
        shouldDisconnect = false;
    } else if (m_preBuffer->availableBytes() > 0) {
        // Bytes still wait for a read; the end is met again once they are taken.
    } else if (m_config & kAllowHalfDuplexConnection) {
        const int fd = m_socket4FD >= 0 ? m_socket4FD : m_socket6FD;
        pollfd p{fd, POLLOUT, 0};
        ::poll(&p, 1, 0);
        if (p.revents & POLLOUT) {
            m_flags |= kReadStreamClosed;
            notifyDelegate([](KPAsyncSocketDelegate& d, const KPAsyncSocketPtr& s) { d.socketDidCloseReadStream(s); });
        } else {
            shouldDisconnect = true;
        }
    } else {
        shouldDisconnect = true;
    }

    if (!shouldDisconnect) {
        suspendReadSource();
        return;
    }
    if (!error) {
        if ((m_flags & kSocketSecure) && m_sslErrCode != 0 && m_sslErrCode != errSSLClosedGraceful)
            error = sslError(m_sslErrCode);
        else
            error = kpConnectionClosedError();
    }
    closeWithError(error);
}

void KPAsyncSocket::completeCurrentRead()
{
    Q_ASSERT_X(m_currentRead, "KPAsyncSocket", "Trying to complete current read when there is no current read.");
    ReadPacketPtr packet = std::get<ReadPacketPtr>(*m_currentRead);
    QByteArray result;
    if (packet->bufferOwner) {
        packet->buffer->resize(qsizetype(packet->bytesDone));
        result = *packet->buffer;
    } else {
        const std::uint64_t used = packet->startOffset + packet->bytesDone;
        if (std::uint64_t(packet->buffer->size()) > packet->originalBufferLength)
            packet->buffer->resize(qsizetype(std::max(used, packet->originalBufferLength)));
        result = packet->buffer->mid(qsizetype(packet->startOffset), qsizetype(packet->bytesDone));
    }
    const long tag = packet->tag;
    notifyDelegate([result, tag](KPAsyncSocketDelegate& d, const KPAsyncSocketPtr& s) { d.didReadData(s, result, tag); });
    endCurrentRead();
}

void KPAsyncSocket::endCurrentRead()
{
    ++m_readTimerGeneration;
    m_currentRead.reset();
}

// ---- writing

void KPAsyncSocket::maybeDequeueWrite()
{
    if (m_currentWrite || !(m_flags & kConnected))
        return;
    if (!m_writeQueue.empty()) {
        m_currentWrite = std::move(m_writeQueue.front());
        m_writeQueue.pop_front();
        if (std::holds_alternative<SpecialPtr>(*m_currentWrite)) {
            m_flags |= kStartingWriteTLS;
            maybeStartTLS();
        } else {
            setupTimerWithTimeout(Side::Write, std::get<WritePacketPtr>(*m_currentWrite)->timeout);
            doWriteData();
        }
    } else if (m_flags & kDisconnectAfterWrites) {
        if (m_flags & kDisconnectAfterReads) {
            if (m_readQueue.empty() && !m_currentRead)
                closeWithError(std::nullopt);
        } else {
            closeWithError(std::nullopt);
        }
    }
}

void KPAsyncSocket::doWriteData()
{
    if (!m_currentWrite || (m_flags & kWritesPaused)) {
        if (m_flags & kSocketCanAcceptBytes)
            suspendWriteSource();
        return;
    }
    if (!(m_flags & kSocketCanAcceptBytes)) {
        resumeWriteSource();
        return;
    }
    if (m_flags & kStartingWriteTLS) {
        if (m_flags & kStartingReadTLS)
            sslContinueSSLHandshake();
        else
            suspendWriteSource();
        return;
    }
    auto packet = std::get<WritePacketPtr>(*m_currentWrite);
    bool waiting = false;
    std::optional<Error> error;
    std::uint64_t bytesWritten = 0;
    const std::uint64_t length = std::uint64_t(packet->buffer.size());

    if (m_flags & kSocketSecure) {
        std::size_t written = 0;
        const int status = sslWrite(packet->buffer.constData() + packet->bytesDone,
                                    std::size_t(length - packet->bytesDone), &written);
        bytesWritten = written;
        if (status == errSSLWouldBlock)
            waiting = true;
        else if (status != noErr)
            error = sslError(status);
    } else {
        const int fd = m_socket4FD >= 0 ? m_socket4FD : m_socket6FD;
        const ssize_t r = sendNoIntr(fd, packet->buffer.constData() + packet->bytesDone,
                                     std::size_t(length - packet->bytesDone));
        if (r < 0) {
            if (errno == EWOULDBLOCK || errno == EAGAIN)
                waiting = true;
            else
                error = errnoErrorWithReason(QStringLiteral("Error in write() function"));
        } else {
            bytesWritten = std::uint64_t(r);
        }
    }

    if (waiting) {
        m_flags &= ~kSocketCanAcceptBytes;
        resumeWriteSource();
    }
    packet->bytesDone += bytesWritten;
    const bool done = packet->bytesDone == length;

    if (done) {
        completeCurrentWrite();
        if (!error)
            maybeDequeueWrite();
    } else {
        if (!waiting && !error) {
            m_flags &= ~kSocketCanAcceptBytes;
            resumeWriteSource();
        }
        if (bytesWritten > 0) {
            const long tag = packet->tag;
            notifyDelegate([bytesWritten, tag](KPAsyncSocketDelegate& d, const KPAsyncSocketPtr& s) {
                d.didWritePartialDataOfLength(s, bytesWritten, tag);
            });
        }
    }
    if (error)
        closeWithError(error);
}

void KPAsyncSocket::completeCurrentWrite()
{
    Q_ASSERT_X(m_currentWrite, "KPAsyncSocket", "Trying to complete current write when there is no current write.");
    const long tag = std::get<WritePacketPtr>(*m_currentWrite)->tag;
    notifyDelegate([tag](KPAsyncSocketDelegate& d, const KPAsyncSocketPtr& s) { d.didWriteDataWithTag(s, tag); });
    endCurrentWrite();
}

void KPAsyncSocket::endCurrentWrite()
{
    ++m_writeTimerGeneration;
    m_currentWrite.reset();
}

// ---- time-outs

// A read and a write time out alike: no byte of that side moves while the delegate, on its
// queue, decides whether to give more time; with more the side goes on, else the socket closes.
// A timer is spent once its side's generation has moved on (the packet ended, or a newer timer).

void KPAsyncSocket::setupTimerWithTimeout(Side side, double timeout)
{
    if (timeout < 0)
        return;
    const int generation = ++timerGeneration(side);
    std::weak_ptr<KPAsyncSocket> weak = shared_from_this();
    m_socketQueue.after(toMs(timeout), [weak, side, generation] {
        auto s = weak.lock();
        if (s && s->timerGeneration(side) == generation)
            s->doTimeout(side);
    });
}

void KPAsyncSocket::doTimeout(Side side)
{
    const bool read = side == Side::Read;
    m_flags |= read ? kReadsPaused : kWritesPaused;
    const Timing timing = read ? timingOf(*std::get<ReadPacketPtr>(*m_currentRead))
                               : timingOf(*std::get<WritePacketPtr>(*m_currentWrite));
    const int generation = timerGeneration(side);
    if (m_delegateQueue.isValid() && !m_delegate.expired()) {
        m_delegateQueue.async([self = shared_from_this(), weak = m_delegate, side, timing, generation] {
            double extension = 0;
            if (auto d = weak.lock()) {
                extension = side == Side::Read
                                ? d->shouldTimeoutReadWithTag(self, timing.tag, timing.elapsed, timing.done)
                                : d->shouldTimeoutWriteWithTag(self, timing.tag, timing.elapsed, timing.done);
            }
            self->m_socketQueue.async([self, side, extension, generation] {
                self->doTimeoutWithExtension(side, extension, generation);
            });
        });
    } else {
        doTimeoutWithExtension(side, 0, generation);
    }
}

void KPAsyncSocket::doTimeoutWithExtension(Side side, double extension, int generation)
{
    const bool read = side == Side::Read;
    if (!(read ? m_currentRead.has_value() : m_currentWrite.has_value()) || generation != timerGeneration(side))
        return;
    if (extension <= 0) {
        closeWithError(read ? kpReadTimeoutError() : kpWriteTimeoutError());
        return;
    }
    double& timeout = read ? std::get<ReadPacketPtr>(*m_currentRead)->timeout
                           : std::get<WritePacketPtr>(*m_currentWrite)->timeout;
    timeout += extension;
    m_flags &= ~(read ? kReadsPaused : kWritesPaused);
    setupTimerWithTimeout(side, extension);
    if (read)
        doReadData();
    else
        doWriteData();
}
