// Hands a value a helper thread is done with back to the main thread, which
// drops it there.
//
// glibc frees a block into the heap of the thread that allocated it, under
// that heap's lock. A helper thread dropping the last copy of something the
// main thread made (a detached genre map, a visible list's rows) frees the
// main thread's blocks under the main thread's lock; when the machine leaves
// the helper without a core while it holds that lock, the window waits for
// it at its next allocation, tens of milliseconds on a busy machine. Use it
// for values of a few large blocks, whose freeing costs the main thread next
// to nothing; many small blocks are better freed by the catalog worker
// (CatalogWorker::retire).
//
// Any thread. Without an application object (after the quit) the value is
// dropped where it is.
#pragma once

#include <QCoreApplication>
#include <QMetaObject>

#include <utility>

namespace ql {

template <class T> void releaseOnMainThread(T value) {
    if (QCoreApplication* app = QCoreApplication::instance())
        QMetaObject::invokeMethod(
            app, [kept = std::move(value)] { (void)kept; }, Qt::QueuedConnection);
}

} // namespace ql
