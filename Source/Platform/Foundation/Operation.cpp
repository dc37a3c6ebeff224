#include "Platform/Foundation/Operation.h"

#include <QDebug>
#include <exception>

namespace platform {

namespace {

class FunctionOperation : public Operation {
public:
    explicit FunctionOperation(std::function<void(Operation&)> work) : m_work(std::move(work)) {}

protected:
    void main() override
    {
        if (m_work)
            m_work(*this);
    }

private:
    std::function<void(Operation&)> m_work;
};

} // namespace

Operation::Operation() = default;
Operation::~Operation() = default;

std::shared_ptr<Operation> Operation::fromFunction(std::function<void()> work)
{
    return std::make_shared<FunctionOperation>([work = std::move(work)](Operation&) {
        if (work)
            work();
    });
}

std::shared_ptr<Operation> Operation::fromFunction(std::function<void(Operation&)> work)
{
    return std::make_shared<FunctionOperation>(std::move(work));
}

void Operation::cancel()
{
    m_cancelled.store(true);
}

void Operation::setCompletionBlock(std::function<void()> block)
{
    std::lock_guard lock(m_mutex);
    m_completion = std::move(block);
}

void Operation::setName(const QString& name)
{
    std::lock_guard lock(m_mutex);
    m_name = name;
}

QString Operation::name() const
{
    std::lock_guard lock(m_mutex);
    return m_name;
}

void Operation::start()
{
    if (m_started.exchange(true))
        return;
    if (!isCancelled()) {
        m_executing.store(true);
        try {
            main();
        } catch (const std::exception& e) {
            qCritical("Operation \"%s\" threw an exception: %s", qUtf8Printable(name()), e.what());
        } catch (...) {
            qCritical("Operation \"%s\" threw an exception", qUtf8Printable(name()));
        }
    }
    std::function<void()> completion;
    {
        std::lock_guard lock(m_mutex);
        m_executing.store(false);
        m_finished.store(true);
        completion = std::move(m_completion);
        m_completion = nullptr;
        m_finishedChanged.notify_all();
    }
    // Run once and then released: the block often captures the operation itself.
    if (completion)
        completion();
}

void Operation::waitUntilFinished() const
{
    std::unique_lock lock(m_mutex);
    m_finishedChanged.wait(lock, [&] { return m_finished.load(); });
}

} // namespace platform
