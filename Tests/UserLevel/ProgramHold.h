// The FIFO at which a step of the program's test build waits (a purge, a save of scanned pages):
// the step opens it to read and goes on at its end of file, so it is held from the moment a
// writer opens it until the writer closes it.
#pragma once

#include <QFile>
#include <QString>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace userlevel {

class ProgramHold {
public:
    explicit ProgramHold(QString path) : m_path(std::move(path))
    {
        EXPECT_EQ(::mkfifo(QFile::encodeName(m_path).constData(), 0600), 0) << "no FIFO at " << m_path.toStdString();
    }
    // A step waiting at the hold, or held by it, goes on.
    ~ProgramHold()
    {
        if (held())
            release();
        ::unlink(QFile::encodeName(m_path).constData());
    }
    ProgramHold(const ProgramHold&) = delete;
    ProgramHold& operator=(const ProgramHold&) = delete;

    QString path() const { return m_path; }
    // Whether a step is waiting at the hold; from the first yes on it is held there until
    // release(). Only a reader waiting at the FIFO lets a writer open it without waiting.
    bool held()
    {
        if (m_writer < 0)
            m_writer = ::open(QFile::encodeName(m_path).constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        return m_writer >= 0;
    }
    void release()
    {
        if (m_writer >= 0)
            ::close(m_writer);
        m_writer = -1;
    }

private:
    QString m_path;
    int m_writer = -1;
};

} // namespace userlevel
