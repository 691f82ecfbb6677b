// The way back from a background job to the main thread.
//
// A job never touches the controller (or a panel) from its own thread: it
// computes on copies and hands its result back through a Delivery made beside
// it on the main thread. `post(step)` may be called from any thread, any
// number of times (a job that reports batch by batch posts once per batch);
// each `step(owner)` runs later on the main thread, and only when
//  - the owner still exists: one destroyed meanwhile (the window closed, the
//    program quitting) drops the answer, and nothing it captured is touched;
//  - for a Delivery made with a counter: the counter still holds the value it
//    had when the Delivery was made. A new request bumps its counter, so the
//    answer to a request that a newer one has overtaken is dropped instead of
//    showing the wrong file, lyrics or analysis.
// Both are decided when the step is about to run, not when it is posted: a
// request made while the answer waits in the queue still wins.
//
// The counter is a field of the owner, or of something that goes with it: it
// is read only on the main thread and only once the owner is known to be
// alive. Steps go through the application object, so they keep the order
// they were posted in and need no receiver that might be half destroyed;
// once the application object is gone nothing is delivered.
//
// A result that must still be cleaned up when stale (a rendered file to
// delete) keeps its own comparison in its step; a Delivery drops silently.
//
// Thread: made on the main thread (the owner's); copied into the job; post()
// from any thread.
#pragma once

#include <QCoreApplication>
#include <QMetaObject>
#include <QPointer>

#include <utility>

namespace ql {

template <class Owner> class Delivery {
public:
    // Dropped only when `owner` is gone.
    explicit Delivery(Owner* owner) : m_owner(owner) {}
    // Dropped also when `counter` has moved on from its value now.
    Delivery(Owner* owner, const quint64& counter)
        : m_owner(owner), m_counter(&counter), m_generation(counter) {}

    template <class Step> void post(Step step) const {
        QCoreApplication* app = QCoreApplication::instance();
        if (!app)
            return;
        QMetaObject::invokeMethod(
            app,
            [delivery = *this, step = std::move(step)]() mutable {
                if (delivery.isCurrent())
                    step(*delivery.m_owner);
            },
            Qt::QueuedConnection);
    }

private:
    // On the main thread only.
    bool isCurrent() const { return m_owner && (!m_counter || *m_counter == m_generation); }

    QPointer<Owner> m_owner;
    const quint64* m_counter = nullptr;
    quint64 m_generation = 0;
};

} // namespace ql
