// A request's events on the main thread: each receiver is looked up again there, so one
// cleared in the meantime hears nothing; the order is delegate, block, queue.
#include "HTTP/KPHTTPRequest.h"

#include "Platform/Foundation/Dispatch.h"

using platform::HTTPHeaders;

void KPHTTPRequest::onMain(std::function<void(KPHTTPRequest&)> work)
{
    auto me = self();
    if (!me)
        return;
    if (platform::Dispatch::isMainThread())
        work(*me);
    else
        platform::Dispatch::main([me, work = std::move(work)] { work(*me); });
}

void KPHTTPRequest::reportStarted()
{
    if (m_error || m_mainRequest.lock())
        return;
    onMain([](KPHTTPRequest& r) {
        std::shared_ptr<KPHTTPRequestDelegate> d;
        Block block;
        std::shared_ptr<KPHTTPRequestQueueReceiver> q;
        {
            std::lock_guard lock(r.m_lock);
            d = r.m_delegate.lock();
            block = r.m_startedBlock;
            q = r.m_queue;
        }
        if (d && d->requestStarted)
            d->requestStarted(r);
        if (block)
            block();
        if (q && q->delegate.requestStarted)
            q->delegate.requestStarted(r);
    });
}

void KPHTTPRequest::reportHeaders(const HTTPHeaders& headers)
{
    if (m_error || m_mainRequest.lock())
        return;
    onMain([headers](KPHTTPRequest& r) {
        std::shared_ptr<KPHTTPRequestDelegate> d;
        HeadersBlock block;
        std::shared_ptr<KPHTTPRequestQueueReceiver> q;
        {
            std::lock_guard lock(r.m_lock);
            d = r.m_delegate.lock();
            block = r.m_headersReceivedBlock;
            q = r.m_queue;
        }
        if (d && d->didReceiveResponseHeaders)
            d->didReceiveResponseHeaders(r, headers);
        if (block)
            block(headers);
        if (q && q->delegate.didReceiveResponseHeaders)
            q->delegate.didReceiveResponseHeaders(r, headers);
    });
}

void KPHTTPRequest::reportRedirected()
{
    if (m_error || m_mainRequest.lock())
        return;
    onMain([](KPHTTPRequest& r) {
        std::shared_ptr<KPHTTPRequestDelegate> d;
        Block block;
        {
            std::lock_guard lock(r.m_lock);
            d = r.m_delegate.lock();
            block = r.m_requestRedirectedBlock;
        }
        if (d && d->requestRedirected)
            d->requestRedirected(r);
        if (block)
            block();
    });
}

void KPHTTPRequest::reportWillRedirect(const QUrl& url)
{
    if (m_error || m_mainRequest.lock())
        return;
    onMain([url](KPHTTPRequest& r) {
        std::shared_ptr<KPHTTPRequestDelegate> d;
        std::shared_ptr<KPHTTPRequestQueueReceiver> q;
        {
            std::lock_guard lock(r.m_lock);
            d = r.m_delegate.lock();
            q = r.m_queue;
        }
        if (d && d->willRedirectToURL)
            d->willRedirectToURL(r, url);
        else if (q && q->delegate.willRedirectToURL)
            q->delegate.willRedirectToURL(r, url);
    });
}

void KPHTTPRequest::reportEnd(Callback KPHTTPRequestDelegate::*callback, Block KPHTTPRequest::*block)
{
    onMain([callback, block](KPHTTPRequest& r) {
        std::shared_ptr<KPHTTPRequestDelegate> d;
        Block endBlock;
        std::shared_ptr<KPHTTPRequestQueueReceiver> q;
        {
            std::lock_guard lock(r.m_lock);
            d = r.m_delegate.lock();
            endBlock = r.*block;
            q = r.m_queue;
        }
        if (d && (*d).*callback)
            ((*d).*callback)(r);
        if (endBlock)
            endBlock();
        if (q && q->delegate.*callback)
            (q->delegate.*callback)(r);
    });
}

void KPHTTPRequest::reportFinished()
{
    reportEnd(&KPHTTPRequestDelegate::requestFinished, &KPHTTPRequest::m_completionBlock);
}

void KPHTTPRequest::reportFailure()
{
    reportEnd(&KPHTTPRequestDelegate::requestFailed, &KPHTTPRequest::m_failureBlock);
}
