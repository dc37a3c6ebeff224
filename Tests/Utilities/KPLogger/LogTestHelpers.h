// Reading log files and records back in tests, and keeping console capture out of the test
// process itself.
#pragma once

#include "Utilities/KPLogger/KPLogRecord.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <optional>

namespace logtest {

// Splits a log file into its records; nullopt when the bytes do not end on a record boundary.
std::optional<QList<QByteArray>> splitRecords(const QByteArray& file);

// The value of the first part with the key, as text or number.
std::optional<QString> text(const QByteArray& record, uint8_t key);
std::optional<int64_t> number(const QByteArray& record, uint8_t key);
int32_t recordType(const QByteArray& record);

} // namespace logtest
