#include "ui/companion/PetAttention.h"

#include "core/terminal/TerminalSession.h"
#include "core/workspace/AttentionBoard.h"
#include "core/workspace/ProviderRegistry.h"
#include "core/workspace/SessionManager.h"
#include "ui/companion/DesktopPet.h"

PetAttention::PetAttention(const AttentionBoard& board, const SessionManager& sessions,
                           const ProviderRegistry& providers, DesktopPet& pet, QObject* parent)
    : QObject(parent), m_board(board), m_sessions(sessions), m_providers(providers), m_pet(&pet) {
    connect(&board, &AttentionBoard::attentionChanged, this, &PetAttention::sync);
    connect(&board, &AttentionBoard::needingYouChanged, this, &PetAttention::sync);
    sync();
}

QString PetAttention::callout() const {
    QString newest;
    int asking = 0;
    for (const SessionPointer& session : m_sessions.sessions()) {
        const SessionAttention* attention = m_board.attentionOf(session->id());
        if (!attention || attention->state() != Attention::NeedsInput) {
            continue;
        }
        ++asking;
        // Connectors and unknown tools have no registered name; the session's own title
        // says what runs there.
        newest = m_providers.provider(session->providerID()).name;
        if (newest.isEmpty()) {
            newest = session->title();
        }
    }
    if (asking == 0) {
        return {};
    }
    return asking == 1 ? QStringLiteral("%1 needs you").arg(newest)
                       : QStringLiteral("%1 +%2 need you").arg(newest).arg(asking - 1);
}

void PetAttention::sync() {
    if (m_pet) {
        m_pet->setCallout(callout());
    }
}
