#include "platform/MainThreadMailbox.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QSocketNotifier>
#include <QThread>

namespace larkspool {

namespace {

std::mutex gMailboxLock;
MainThreadMailbox* gMailbox = nullptr; // lives as long as the process

} // namespace

MainThreadMailbox::MainThreadMailbox() {
    if (FWake.Open()) {
        FNotifier = new QSocketNotifier(FWake.ReadFd(), QSocketNotifier::Read, this);
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
        mailbox->FWake.Wake();
        return true;
    }
    return QMetaObject::invokeMethod(mailbox, "Drain", Qt::QueuedConnection);
}

void MainThreadMailbox::Drain() {
    // Emptied before the queue is: a call posted meanwhile writes a new byte,
    // and the notifier calls again.
    FWake.Drain();
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
