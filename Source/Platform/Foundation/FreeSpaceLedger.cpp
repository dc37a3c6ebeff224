#include "Platform/Foundation/FreeSpaceLedger.h"

#include <QFile>
#include <QStorageInfo>
#include <map>
#include <sys/stat.h>

namespace platform {

struct FreeSpaceLedger::State {
    mutable std::mutex mutex;
    FreeBytes source;
    // Bytes held per file system (device number).
    std::map<quint64, qint64> held;
};

struct FreeSpaceLedger::Reservation::Entry {
    std::weak_ptr<FreeSpaceLedger::State> state;
    QString path; // where the free space is asked for
    quint64 device = 0;
    qint64 held = 0; // under the state's mutex
};

namespace {

std::optional<quint64> deviceOf(const QString& path)
{
    struct stat st {};
    if (path.isEmpty() || ::stat(QFile::encodeName(path).constData(), &st) != 0)
        return std::nullopt;
    return quint64(st.st_dev);
}

} // namespace

FreeSpaceLedger::FreeSpaceLedger() : m_state(std::make_shared<State>()) {}

FreeSpaceLedger& FreeSpaceLedger::shared()
{
    // Never destroyed: a writer on another thread may give its reservation back while the
    // process ends.
    static FreeSpaceLedger* ledger = new FreeSpaceLedger;
    return *ledger;
}

qint64 FreeSpaceLedger::systemFreeBytes(const QString& path)
{
    const QStorageInfo storage(path);
    return storage.isValid() ? storage.bytesAvailable() : -1;
}

void FreeSpaceLedger::setFreeBytesSource(FreeBytes source)
{
    std::lock_guard lock(m_state->mutex);
    m_state->source = std::move(source);
}

FreeSpaceLedger::Reservation FreeSpaceLedger::reserve(const QString& path, qint64 bytes, qint64 margin)
{
    const auto device = deviceOf(path);
    if (!device || bytes < 0 || margin < 0)
        return {};
    std::lock_guard lock(m_state->mutex);
    const qint64 available = m_state->source ? m_state->source(path) : systemFreeBytes(path);
    if (available < 0)
        return {};
    const qint64 others = m_state->held[*device];
    // In this order no sum can overflow: every figure is at most what one disk holds.
    if (others > available || margin > available - others || bytes > available - others - margin)
        return {};
    m_state->held[*device] += bytes;
    Reservation reservation;
    reservation.m_entry = std::make_shared<Reservation::Entry>();
    reservation.m_entry->state = m_state;
    reservation.m_entry->path = path;
    reservation.m_entry->device = *device;
    reservation.m_entry->held = bytes;
    return reservation;
}

qint64 FreeSpaceLedger::reservedOn(const QString& path) const
{
    const auto device = deviceOf(path);
    std::lock_guard lock(m_state->mutex);
    const auto found = device ? m_state->held.find(*device) : m_state->held.end();
    return found == m_state->held.end() ? 0 : found->second;
}

FreeSpaceLedger::Reservation::Reservation(Reservation&& other) noexcept : m_entry(std::move(other.m_entry)) {}

FreeSpaceLedger::Reservation& FreeSpaceLedger::Reservation::operator=(Reservation&& other) noexcept
{
    if (this != &other) {
        release();
        m_entry = std::move(other.m_entry);
    }
    return *this;
}

FreeSpaceLedger::Reservation::~Reservation()
{
    release();
}

qint64 FreeSpaceLedger::Reservation::held() const
{
    if (!m_entry)
        return 0;
    auto state = m_entry->state.lock();
    if (!state)
        return 0;
    std::lock_guard lock(state->mutex);
    return m_entry->held;
}

void FreeSpaceLedger::Reservation::wrote(qint64 bytes)
{
    if (!m_entry || bytes <= 0)
        return;
    auto state = m_entry->state.lock();
    if (!state)
        return;
    std::lock_guard lock(state->mutex);
    const qint64 given = std::min(bytes, m_entry->held);
    m_entry->held -= given;
    state->held[m_entry->device] -= given;
}

bool FreeSpaceLedger::Reservation::resize(qint64 bytes, qint64 margin)
{
    if (!m_entry || bytes < 0 || margin < 0)
        return false;
    auto state = m_entry->state.lock();
    if (!state)
        return false;
    std::lock_guard lock(state->mutex);
    const qint64 grow = bytes - m_entry->held;
    if (grow > 0) {
        const qint64 available = state->source ? state->source(m_entry->path) : systemFreeBytes(m_entry->path);
        const qint64 all = state->held[m_entry->device];
        if (available < 0 || all > available || margin > available - all || grow > available - all - margin)
            return false;
    }
    state->held[m_entry->device] += grow;
    m_entry->held = bytes;
    return true;
}

void FreeSpaceLedger::Reservation::release()
{
    if (!m_entry)
        return;
    if (auto state = m_entry->state.lock()) {
        std::lock_guard lock(state->mutex);
        state->held[m_entry->device] -= m_entry->held;
        m_entry->held = 0;
    }
    m_entry.reset();
}

} // namespace platform
