// The theme engine's messages for the system log (parse and cut failures), kept apart from
// the program's own log so a broken theme file cannot flood it.
#pragma once

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcThemeSystemLog)
