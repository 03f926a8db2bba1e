#include "core/workspace/ReviewLayout.h"

#include "core/services/Preferences.h"
#include "core/workspace/PreferenceKeys.h"

ReviewLayout::ReviewLayout(Preferences* store, QObject* parent) : QObject(parent), m_store(store) {
    if (m_store) {
        m_sideBySide = m_store->value(PreferenceKeys::reviewSideBySide).toBool();
        const QVariant wrapping = m_store->value(PreferenceKeys::reviewWrapping);
        m_wrapping = wrapping.isValid() ? wrapping.toBool() : true;
    }
}

void ReviewLayout::setSideBySide(bool sideBySide) {
    if (m_sideBySide == sideBySide) {
        return;
    }
    m_sideBySide = sideBySide;
    if (m_store) {
        m_store->setValue(PreferenceKeys::reviewSideBySide, sideBySide);
    }
    Q_EMIT changed();
}

void ReviewLayout::setWrapping(bool wrapping) {
    if (m_wrapping == wrapping) {
        return;
    }
    m_wrapping = wrapping;
    if (m_store) {
        m_store->setValue(PreferenceKeys::reviewWrapping, wrapping);
    }
    Q_EMIT changed();
}
