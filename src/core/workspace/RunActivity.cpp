#include "core/workspace/RunActivity.h"

#include "core/services/PowerInhibitor.h"

#include <QString>

RunActivity::~RunActivity() {
    setActive(false);
}

void RunActivity::setActive(bool value) {
    if (value == m_active) {
        return;
    }
    if (value) {
        m_assertion =
            m_inhibitor ? m_inhibitor->acquire(QStringLiteral("VELK is running a task")) : -1;
        m_active = m_assertion >= 0;
    } else {
        m_inhibitor->release(m_assertion);
        m_assertion = -1;
        m_active = false;
    }
}
