#include "ThemeFixtures.h"

#include "Platform/Foundation/PropertyList.h"
#include "Utilities/KPLogger/KPLogClient.h"

#include <QDir>
#include <QImage>
#include <QMutex>
#include <QPainter>
#include <gtest/gtest.h>

namespace themefixtures {

namespace {
constexpr int kCell = 8;
constexpr int kCells = 8;

QMutex g_logMutex;
QStringList g_log;
QtMessageHandler g_previous = nullptr;

void handler(QtMsgType type, const QMessageLogContext& ctx, const QString& msg)
{
    if (ctx.category && QByteArray(ctx.category) == "folivo.theme") {
        QMutexLocker lock(&g_logMutex);
        g_log << msg;
        return;
    }
    if (g_previous)
        g_previous(type, ctx, msg);
}

QImage sheet(int scale)
{
    QImage img(kCell * kCells * scale, kCell * kCells * scale, QImage::Format_ARGB32);
    QPainter p(&img);
    for (int r = 0; r < kCells; ++r)
        for (int c = 0; c < kCells; ++c)
            p.fillRect(c * kCell * scale, r * kCell * scale, kCell * scale, kCell * scale, cellColor(c, r));
    return img;
}
} // namespace

QColor cellColor(int c, int r)
{
    return QColor(20 + c * 30, 20 + r * 30, 200);
}

void writeTheme(const QString& folder, const QString& name, const QVariant& root, bool sheet1x, bool sheet2x)
{
    const QString dir = folder + QStringLiteral("/theme");
    ASSERT_TRUE(QDir().mkpath(dir));
    ASSERT_TRUE(platform::PropertyList::writeFile(root, dir + QStringLiteral("/%1.plist").arg(name), platform::PlistFormat::Xml));
    if (sheet1x) {
        ASSERT_TRUE(sheet(1).save(dir + QStringLiteral("/%1.png").arg(name)));
    }
    if (sheet2x) {
        ASSERT_TRUE(sheet(2).save(dir + QStringLiteral("/%1@2x.png").arg(name)));
    }
}

QVariantMap basicRoot(const QString& colorText)
{
    const QVariantMap objects{
        {QStringLiteral("Cell"), QVariantMap{{QStringLiteral("Type"), QStringLiteral("Sprite")}, {QStringLiteral("Value"), QStringLiteral("{{8, 8}, {8, 8}}")}}},
        {QStringLiteral("Button"), QVariantMap{{QStringLiteral("Type"), QStringLiteral("MultiSprite")},
                                                {QStringLiteral("Normal"), QStringLiteral("{{0, 0}, {8, 8}}")},
                                                {QStringLiteral("Over"), QStringLiteral("{{8, 0}, {8, 8}}")}}},
        {QStringLiteral("Tint"), QVariantMap{{QStringLiteral("Type"), QStringLiteral("Color")}, {QStringLiteral("Value"), colorText}}},
    };
    const QVariantMap group{
        {QStringLiteral("Text"), QVariantMap{{QStringLiteral("Type"), QStringLiteral("TextStyle")}, {QStringLiteral("FontColor"), QStringLiteral("FF0000")}}},
        {QStringLiteral("Icon"), QVariantMap{{QStringLiteral("Type"), QStringLiteral("Sprite")}, {QStringLiteral("Value"), QStringLiteral("{{16, 0}, {8, 8}}")}}},
    };
    return {{QStringLiteral("ThemeObjects"), objects}, {QStringLiteral("CustomThemeObject"), QVariantMap{{QStringLiteral("Group"), group}}}};
}

LogCapture::LogCapture()
{
    QMutexLocker lock(&g_logMutex);
    g_log.clear();
    g_previous = qInstallMessageHandler(handler);
}

LogCapture::~LogCapture()
{
    qInstallMessageHandler(g_previous);
}

QStringList LogCapture::lines() const
{
    QMutexLocker lock(&g_logMutex);
    return g_log;
}

} // namespace themefixtures

namespace {
// The shared logger captures standard output by default, which would swallow the test report;
// in tests it prints its records instead.
class ConsoleLogEnvironment : public ::testing::Environment {
public:
    void SetUp() override { KPLogSetOptionFlags(nullptr, kKPLogOptionLogToConsole); }
};
const auto* const g_consoleLog = ::testing::AddGlobalTestEnvironment(new ConsoleLogEnvironment);
} // namespace
