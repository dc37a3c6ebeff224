#include "MainWindow/Parts/KPImportViewController.h"

#include "Controls/KPProgressIndicator.h"
#include "Controls/KPThemeImageButton.h"
#include "Import/KPImportKeys.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Theme/KPMultiSprite.h"
#include "Theme/KPThemeObject.h"

#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QVBoxLayout>

KPImportViewController::KPImportViewController(platform::NotificationCenter& center, QWidget* parent)
    : platform::kit::View(parent), m_center(center)
{
    setObjectName(QStringLiteral("ImportView"));
    awakeFromNib();
}

void KPImportViewController::awakeFromNib()
{
    m_imageView = new QLabel(this);
    m_imageView->setFixedSize(kImageSide, kImageSide);
    m_imageView->setAlignment(Qt::AlignCenter);
    m_txtTitle = new QLabel(this);
    m_txtTitle->setAlignment(Qt::AlignCenter);
    m_txtTitle->setTextInteractionFlags(Qt::NoTextInteraction);
    m_txtTitle->setStyleSheet(QStringLiteral("color: white;"));

    m_progressParnetView = new QWidget(this);
    m_progressParnetView->setFixedSize(kBarWidth + kStopButtonGap + kStopButtonSize, kBarHeight);
    m_progress = new KPProgressIndicator(QRect(0, 0, kBarWidth, kBarHeight), m_progressParnetView);
    m_stopButton = new KPThemeImageButton(
        QRect(kBarWidth + kStopButtonGap, 0, kStopButtonSize, kStopButtonSize), m_progressParnetView);
    m_stopButton->setMultiSprite(KPThemeObject::themeObjectWithName<KPMultiSprite>(kStopButtonTheme));
    m_stopButton->setupAction([this](KPThemeImageButton*) { onStopImportClick(); });

    auto* layout = new QVBoxLayout(this);
    layout->addStretch(1);
    layout->addWidget(m_imageView, 0, Qt::AlignHCenter);
    layout->addWidget(m_txtTitle, 0, Qt::AlignHCenter);
    layout->addWidget(m_progressParnetView, 0, Qt::AlignHCenter);
    layout->addStretch(1);
}

QString KPImportViewController::progressTitle(int currIndex, int count)
{
    return QStringLiteral("%1 / %2").arg(currIndex).arg(count);
}

void KPImportViewController::showProgressByOptions(const QVariantMap& status)
{
    namespace K = KPImportKeys;
    const QVariant image = status.value(K::Image);
    QImage picture = image.value<QImage>();
    m_imageView->setPixmap(picture.isNull() ? QPixmap()
                                            : QPixmap::fromImage(picture.scaled(m_imageView->size(), Qt::KeepAspectRatio,
                                                                                Qt::SmoothTransformation)));
    const int count = status.value(K::Count).toInt();
    const int current = status.value(K::CurrIndex).toInt();
    m_progress->setMaxValue(count);
    m_progress->setMinValue(0);
    m_progress->setCurrentValue(current);
    m_txtTitle->setText(progressTitle(current, count));
}

void KPImportViewController::removeFromSuperView()
{
    m_progress->setDoAnimation(false);
    removeFromSuperview();
}

void KPImportViewController::onStopImportClick()
{
    m_center.post(kStopImporting);
}

void KPImportViewController::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    QColor shade(Qt::black);
    shade.setAlphaF(kBackgroundAlpha);
    painter.fillRect(rect(), shade);
}
