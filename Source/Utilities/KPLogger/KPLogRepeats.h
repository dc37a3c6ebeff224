// Lines that repeat without end under a flood (a refused connection, a time-out), gathered by
// key into one line per interval.
//
// The first line of a key is written and opens an interval. Lines of the same key within the
// interval are only counted, the last of them kept; when the interval ends, one summary with
// the count is due and the next interval opens at once, so that a steady stream of one key
// gives one line per interval. An interval that ends without repeats closes the key, and its
// next line is written again as a first one. Summaries are taken when due (by the logger's
// worker), or by the key's next line when that comes first, or all at once when the logger
// stops: a counted line is never dropped.
//
// Past kMaxKeys open keys a new key is not gathered: its lines are written as they come, so
// a flood of distinct keys costs log room but not memory here.
//
// Times are passed in, so the gathering itself does not read a clock. Threads: any; one mutex
// guards everything here.
#pragma once

#include <QHash>
#include <QList>
#include <QString>
#include <chrono>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <variant>

class KPLogRepeats {
public:
    using Clock = std::chrono::steady_clock;

    static constexpr std::chrono::milliseconds kDefaultInterval{10000};
    static constexpr qsizetype kMaxKeys = 1024;

    // What a summary repeats: the last counted line and the thread that logged it.
    struct Line {
        QString domain;
        int level = 0;
        QString message;
        std::variant<QString, int64_t> thread;
    };

    struct Summary {
        Line last;
        int64_t count = 0;
        std::chrono::milliseconds interval{0};

        // "<message> (<count> more like this within <interval> s)"
        QString text() const;
    };

    struct Decision {
        // A summary of the key's interval that ended unsummarised: written before the line.
        std::optional<Summary> before;
        // Whether the line itself is written now (else it was counted).
        bool write = true;
    };

    Decision note(const QString& key, Line line, Clock::time_point now);
    // The summaries of the intervals that have ended by now, oldest first.
    QList<Summary> takeDue(Clock::time_point now);
    // Every pending count, at once: the logger stops.
    QList<Summary> takeAll();
    // When the next interval ends, if any is open (possibly early: the worker then finds
    // nothing due and waits again).
    std::optional<Clock::time_point> nextDue() const;

    void setInterval(std::chrono::milliseconds interval);
    std::chrono::milliseconds interval() const;

private:
    struct Entry {
        Clock::time_point start;
        int64_t count = 0;
        Line last;
    };

    void openLocked(const QString& key, Entry& entry, Clock::time_point now);

    mutable std::mutex m_mutex;
    std::chrono::milliseconds m_interval = kDefaultInterval;
    QHash<QString, Entry> m_entries;
    // Interval starts in order with their keys; a key whose interval opened again later has a
    // newer pair, and its older pairs are passed over.
    std::deque<std::pair<Clock::time_point, QString>> m_order;
};
