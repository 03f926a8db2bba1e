#include "ui/workspace/RestoreBar.h"

#include "core/workspace/SessionRestore.h"
#include "ui/kit/Widgets.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

RestoreBar::RestoreBar(SessionRestore& restore, QWidget* parent)
    : QFrame(parent), m_restoreModel(restore) {
    setObjectName(QStringLiteral("RestoreBar"));
    auto* row = Widgets::box<QHBoxLayout>(this, {28, 8, 28, 8}, 10);
    m_message = Widgets::label(QString(), "muted");
    m_restore = Widgets::button(QString(), "primary");
    m_dismiss = Widgets::button(QStringLiteral("Not now"));
    row->addWidget(m_message, 1);
    row->addWidget(m_dismiss);
    row->addWidget(m_restore);
    connect(m_restore, &QPushButton::clicked, &restore, &SessionRestore::restore);
    connect(m_dismiss, &QPushButton::clicked, &restore, &SessionRestore::dismiss);
    connect(&restore, &SessionRestore::offeredChanged, this, &RestoreBar::sync);
    sync();
}

void RestoreBar::sync() {
    const qsizetype count = m_restoreModel.offered().size();
    m_message->setText(count == 1
                           ? QStringLiteral("1 session was open when VELK last closed.")
                           : QString::number(count) +
                                 QStringLiteral(" sessions were open when VELK last closed."));
    m_restore->setText(m_restoreModel.offerText());
    setVisible(count > 0);
}
