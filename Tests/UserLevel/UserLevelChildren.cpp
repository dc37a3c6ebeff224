// The helpers the user-level cases start from this same program, on the case's X display: a drag
// source that offers files as a file manager does, and a screen grab.
#include "UserLevel/UserSession.h"

#include <QApplication>
#include <QDrag>
#include <QGuiApplication>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QUrl>
#include <QWidget>
#include <cstdio>
#include <gtest/gtest.h>

namespace testsupport {

// The test main picks the offscreen platform; the helpers need the case's real display.
std::unique_ptr<QApplication> makeApplication(int& argc, char** argv)
{
    if (qEnvironmentVariableIsSet(userlevel::kChildVariable))
        qputenv("QT_QPA_PLATFORM", "xcb");
    return std::make_unique<QApplication>(argc, argv);
}

} // namespace testsupport

namespace {

void say(const char* text)
{
    std::fputs(text, stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

const char* actionName(Qt::DropAction action)
{
    switch (action) {
    case Qt::CopyAction:
        return "copy";
    case Qt::MoveAction:
        return "move";
    case Qt::LinkAction:
        return "link";
    default:
        return "ignore";
    }
}

// The parent's pointer alone drives the drag; what the target answers on the way is printed for
// the parent to poll.
class DragSource : public QWidget {
public:
    explicit DragSource(QList<QUrl> urls) : m_urls(std::move(urls)) { setWindowTitle(QStringLiteral("Folivo drag source")); }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), QColor(40, 90, 160));
        painter.setPen(Qt::white);
        painter.drawText(rect(), Qt::AlignCenter, QStringLiteral("%1 files").arg(m_urls.size()));
    }

    // As file managers do: the drag starts once the pressed pointer moves.
    void mouseMoveEvent(QMouseEvent* event) override
    {
        if (!(event->buttons() & Qt::LeftButton) || m_started)
            return;
        m_started = true;
        auto* mime = new QMimeData;
        // Qt writes text/uri-list from the URLs, as file managers offer it.
        mime->setUrls(m_urls);
        auto* drag = new QDrag(this);
        drag->setMimeData(mime);
        QObject::connect(drag, &QDrag::actionChanged, drag, [](Qt::DropAction action) {
            say(QByteArray("action ").append(actionName(action)).constData());
        });
        say("dragging");
        const Qt::DropAction done = drag->exec(Qt::CopyAction | Qt::MoveAction, Qt::CopyAction);
        say(QByteArray("done ").append(actionName(done)).constData());
    }

private:
    QList<QUrl> m_urls;
    bool m_started = false;
};

} // namespace

TEST(DragSourceChild, DISABLED_Drag)
{
    QList<QUrl> urls;
    for (const QString& path : qEnvironmentVariable("FOLIVO_DRAG_FILES").split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        urls << QUrl::fromLocalFile(path);
    const QStringList at = qEnvironmentVariable("FOLIVO_DRAG_AT").split(QLatin1Char(','));
    DragSource source(urls);
    source.setGeometry(at.value(0).toInt(), at.value(1).toInt(), 200, 100);
    source.show();
    // The target reads the files' names only after the drop, from us: we stay until the parent
    // has seen the import and ends us.
    testsupport::spinUntil([] { return false; }, 120000);
}

TEST(ScreenshotChild, DISABLED_Grab)
{
    QScreen* screen = QGuiApplication::primaryScreen();
    ASSERT_TRUE(screen);
    ASSERT_TRUE(screen->grabWindow(0).save(qEnvironmentVariable("FOLIVO_SHOT"), "PNG"));
}

