#include "Platform/Kit/AnimationPolicy.h"

#include <QPropertyAnimation>
#include <utility>

namespace platform::kit {

namespace {

AnimationPolicy*& installed()
{
    static AnimationPolicy* policy = nullptr;
    return policy;
}

} // namespace

AnimationPolicy& AnimationPolicy::current()
{
    // A plain value: safe to outlive everything else.
    static AnimationPolicy animated;
    return installed() ? *installed() : animated;
}

AnimationPolicy* AnimationPolicy::install(AnimationPolicy* policy)
{
    return std::exchange(installed(), policy);
}

QPropertyAnimation* AnimationPolicy::animate(QObject* target, const QByteArray& property, const QVariant& end, int ms,
                                             const QEasingCurve& curve) const
{
    if (!target)
        return nullptr;
    const int length = duration(ms);
    if (length == 0) {
        target->setProperty(property.constData(), end);
        return nullptr;
    }
    auto* animation = new QPropertyAnimation(target, property, target);
    animation->setDuration(length);
    animation->setEndValue(end);
    animation->setEasingCurve(curve);
    animation->start(QAbstractAnimation::DeleteWhenStopped);
    return animation;
}

} // namespace platform::kit
