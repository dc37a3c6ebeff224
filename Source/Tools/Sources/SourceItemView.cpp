#include "Tools/Sources/SourceItemView.h"

#include "Tools/Sources/SourceItemDisconnectButton.h"

#include "Controls/KPCoustomDrawBGView.h"
#include "Platform/Foundation/Localization.h"

#include <QLabel>
#include <QPushButton>

using platform::localizedString;

namespace {

// Frames inside a row (y-down, the row being kSourceRowSize).
const QRect kIconFrame(14, 9, 32, 32);
const QRect kTitleFrame(58, 15, 150, 20);
const QRect kPathFrame(212, 15, 228, 20);
const QRect kButtonFrame(452, 12, 90, 26);

QLabel* label(const QRect& frame, QWidget* parent)
{
    auto* text = new QLabel(parent);
    text->setGeometry(frame);
    text->setTextFormat(Qt::PlainText);
    return text;
}

void buildRow(SourceItemOutlets& outlets, QWidget* parent, bool withPath)
{
    auto* view = new KPCoustomDrawBGView(QRect(QPoint(0, 0), kSourceRowSize), parent);
    view->setObjectName(withPath ? QStringLiteral("SourceItemView") : QStringLiteral("SourceItemCloudView"));
    outlets.view = view;
    outlets.iconView = label(kIconFrame, view);
    outlets.iconView->setScaledContents(true);
    outlets.txtTitle = label(kTitleFrame, view);
    QFont bold = outlets.txtTitle->font();
    bold.setBold(true);
    outlets.txtTitle->setFont(bold);
    if (withPath) {
        outlets.pathControl = label(kPathFrame, view);
        outlets.pathControl->setObjectName(QStringLiteral("pathControl"));
    }
    outlets.txtNotFound = label(kPathFrame, view);
    outlets.txtNotFound->setText(localizedString(QStringLiteral("Not found")));
    QPalette grey = outlets.txtNotFound->palette();
    grey.setColor(QPalette::WindowText, QColor(150, 150, 150));
    outlets.txtNotFound->setPalette(grey);
    outlets.txtNotFound->hide();
    outlets.btnConnect = new QPushButton(localizedString(QStringLiteral("Connect")), view);
    outlets.btnConnect->setGeometry(kButtonFrame);
    outlets.btnConnect->setAutoDefault(false);
    outlets.btnDisconnect = new SourceItemDisconnectButton(kButtonFrame, view);
    outlets.btnDisconnect->hide();
}

} // namespace

void buildSourceItemView(SourceItemOutlets& outlets, QWidget* parent)
{
    buildRow(outlets, parent, true);
}

void buildSourceItemCloudView(SourceItemOutlets& outlets, QWidget* parent)
{
    buildRow(outlets, parent, false);
}
