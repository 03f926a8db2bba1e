#pragma once

#include <QObject>
#include <QPointer>

class AttentionBoard;
class DesktopPet;
class ProviderRegistry;
class SessionManager;

// Makes the desktop pet call the user while a session needs them: the pet takes its
// "needs you" pose and its badge names the assistant that asks ("Codex needs you"), or the
// newest of several ("Codex +1 need you"). The pose ends when no session needs the user.
class PetAttention : public QObject {
    Q_OBJECT
public:
    // Every reference must outlive this object; the pet may go first.
    PetAttention(const AttentionBoard& board, const SessionManager& sessions,
                 const ProviderRegistry& providers, DesktopPet& pet, QObject* parent = nullptr);

    // The badge text for the sessions needing the user now; empty when none do.
    QString callout() const;

private:
    void sync();

    const AttentionBoard& m_board;
    const SessionManager& m_sessions;
    const ProviderRegistry& m_providers;
    QPointer<DesktopPet> m_pet;
};
