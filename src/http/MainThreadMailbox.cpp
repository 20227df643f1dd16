#include "http/MainThreadMailbox.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QSocketNotifier>
#include <QThread>

#include <fcntl.h>
#include <unistd.h>

namespace larkspool {

namespace {

std::mutex gMailboxLock;
MainThreadMailbox* gMailbox = nullptr; // lives as long as the process

} // namespace

MainThreadMailbox::MainThreadMailbox() {
    if (::pipe2(FWake, O_CLOEXEC | O_NONBLOCK) == 0) {
        FNotifier = new QSocketNotifier(FWake[0], QSocketNotifier::Read, this);
        connect(FNotifier, &QSocketNotifier::activated, this, [this] { Drain(); });
    }
}

void MainThreadMailbox::Prepare() {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app || QThread::currentThread() != app->thread())
        return;
    std::lock_guard lock(gMailboxLock);
    if (!gMailbox)
        gMailbox = new MainThreadMailbox;
}

bool MainThreadMailbox::Post(std::function<void()> Call) {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app)
        return false;
    Prepare();
    MainThreadMailbox* mailbox;
    {
        std::lock_guard lock(gMailboxLock);
        if (!gMailbox) {
            // First use from another thread: made here, then handed over.
            gMailbox = new MainThreadMailbox;
            gMailbox->moveToThread(app->thread());
        }
        mailbox = gMailbox;
    }
    {
        std::lock_guard lock(mailbox->FLock);
        mailbox->FCalls.push_back(std::move(Call));
    }
    if (mailbox->FNotifier && mailbox->FNotifier->thread() == app->thread()) {
        const char byte = 1;
        [[maybe_unused]] const ssize_t n = ::write(mailbox->FWake[1], &byte, 1);
        return true;
    }
    return QMetaObject::invokeMethod(mailbox, "Drain", Qt::QueuedConnection);
}

void MainThreadMailbox::Drain() {
    // One read is enough: bytes left over, or written later, keep the pipe
    // readable and the notifier calls again.
    char bytes[64];
    if (FWake[0] >= 0) {
        [[maybe_unused]] const ssize_t n = ::read(FWake[0], bytes, sizeof bytes);
    }
    for (;;) {
        std::function<void()> call;
        {
            std::lock_guard lock(FLock);
            if (FCalls.empty())
                return;
            call = std::move(FCalls.front());
            FCalls.pop_front();
        }
        call();
    }
}

} // namespace larkspool
