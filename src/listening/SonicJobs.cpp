#include "listening/SonicJobs.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <chrono>

namespace ql {

void SonicJobs::post(std::function<void()> step) {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app)
        return;
    QMetaObject::invokeMethod(
        app,
        [self = shared_from_this(), step = std::move(step)] {
            if (self->isOpen())
                step();
        },
        Qt::QueuedConnection);
}

void SonicJobs::close() {
    const std::lock_guard lock(m_mutex);
    m_open = false;
}

bool SonicJobs::isOpen() const {
    const std::lock_guard lock(m_mutex);
    return m_open;
}

std::shared_ptr<SonicJobs::Running> SonicJobs::begin() {
    return std::make_shared<Running>(shared_from_this());
}

SonicJobs::Running::Running(std::shared_ptr<SonicJobs> jobs) : m_jobs(std::move(jobs)) {
    const std::lock_guard lock(m_jobs->m_mutex);
    ++m_jobs->m_running;
}

SonicJobs::Running::~Running() {
    {
        const std::lock_guard lock(m_jobs->m_mutex);
        --m_jobs->m_running;
    }
    m_jobs->m_idle.notify_all();
}

bool SonicJobs::waitIdle(int ms) {
    std::unique_lock lock(m_mutex);
    return m_idle.wait_for(lock, std::chrono::milliseconds(ms), [this] { return m_running == 0; });
}

} // namespace ql
