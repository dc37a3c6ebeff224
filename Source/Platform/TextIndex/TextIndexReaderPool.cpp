#include "Platform/TextIndex/TextIndexReaderPool.h"

namespace platform {

Result<std::unique_ptr<TextIndexReaderPool::Reader>> TextIndexReaderPool::open(const QString& path, quint64 generation)
{
    auto db = TextIndexDatabase::open(path, TextIndexDatabase::Access::Reader);
    if (!db)
        return std::unexpected(db.error());
    auto reader = std::make_unique<Reader>();
    reader->db = std::move(*db);
    reader->generation = generation;
    return reader;
}

Result<std::unique_ptr<TextIndexReaderPool::Reader>> TextIndexReaderPool::take()
{
    quint64 generation = 0;
    {
        std::lock_guard lock(m_mutex);
        if (!m_idle.empty()) {
            std::unique_ptr<Reader> reader = std::move(m_idle.back());
            m_idle.pop_back();
            return reader;
        }
        generation = m_generation;
    }
    // Opened outside the lock: other searches need not wait for this one's file checks.
    return open(m_path, generation);
}

void TextIndexReaderPool::giveBack(std::unique_ptr<Reader> reader)
{
    if (!reader)
        return;
    {
        std::lock_guard lock(m_mutex);
        if (!m_closed && reader->generation == m_generation && m_idle.size() < kMaxIdle) {
            m_idle.push_back(std::move(reader));
            return;
        }
    }
    // Closed outside the lock.
    reader.reset();
}

void TextIndexReaderPool::discardAll()
{
    std::vector<std::unique_ptr<Reader>> closing; // closed after the lock is let go
    std::lock_guard lock(m_mutex);
    ++m_generation;
    closing.swap(m_idle);
}

void TextIndexReaderPool::close()
{
    {
        std::lock_guard lock(m_mutex);
        m_closed = true;
    }
    discardAll();
}

size_t TextIndexReaderPool::idleCount() const
{
    std::lock_guard lock(m_mutex);
    return m_idle.size();
}

} // namespace platform
