#include "http/MainThreadMailbox.h"

#include <QCoreApplication>
#include <QMetaObject>

namespace larkspool {

namespace {

std::mutex gMailboxLock;
MainThreadMailbox* gMailbox = nullptr; // lives as long as the process

} // namespace

bool MainThreadMailbox::Post(std::function<void()> Call) {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app)
        return false;
    MainThreadMailbox* mailbox;
    {
        std::lock_guard lock(gMailboxLock);
        if (!gMailbox) {
            gMailbox = new MainThreadMailbox;
            gMailbox->moveToThread(app->thread());
        }
        mailbox = gMailbox;
    }
    {
        std::lock_guard lock(mailbox->FLock);
        mailbox->FCalls.push_back(std::move(Call));
    }
    return QMetaObject::invokeMethod(mailbox, "Drain", Qt::QueuedConnection);
}

void MainThreadMailbox::Drain() {
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
