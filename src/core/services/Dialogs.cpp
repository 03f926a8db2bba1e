#include "core/services/Dialogs.h"

int ScriptedDialogs::alert(const Alert& alert) {
    m_alerts.push_back(alert);
    if (m_nextAlert >= m_alertAnswers.size()) {
        return -1;
    }
    const auto& answer = m_alertAnswers[m_nextAlert++];
    if (const int* index = std::get_if<int>(&answer)) {
        return *index;
    }
    return int(alert.buttons.indexOf(std::get<QString>(answer)));
}

std::optional<QString> ScriptedDialogs::open(const OpenPanel& panel) {
    m_openPanels.push_back(panel);
    if (m_nextOpen >= m_openAnswers.size()) {
        return std::nullopt;
    }
    return m_openAnswers[m_nextOpen++];
}

std::optional<QString> ScriptedDialogs::save(const SavePanel& panel) {
    m_savePanels.push_back(panel);
    if (m_nextSave >= m_saveAnswers.size()) {
        return std::nullopt;
    }
    return m_saveAnswers[m_nextSave++];
}
