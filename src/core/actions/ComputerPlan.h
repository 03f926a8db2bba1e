#pragma once

#include "core/base/Result.h"

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QString>

#include <cstdint>

// One step of a desktop action plan drafted by the Codex assistant.
struct ComputerStep {
    qint64 id = 0;
    QString title;
    QString action;  // "open_app", "open_url", "type_text" or "key"; others fail validation
    QString app;     // bundle identifier or desktop-entry id of the target application
    QString value;   // empty, a web address, the text to type, or a key name

    bool operator==(const ComputerStep&) const = default;

    QJsonObject toJson() const;
    // The value as the confirmation shows it: in typed text every text-direction control is
    // spelled out ("⟨U+202E⟩"); a web address whose host is not plain ASCII is followed by
    // the host in Unicode and in its ASCII (punycode) form, so that look-alike letters show.
    QString shownValue() const;
};

// A keyboard shortcut of the allow-list: the macOS virtual key code and the CGEventFlags
// modifier mask. The step runner maps these to the local keyboard.
struct ShortcutKey {
    quint16 keyCode = 0;
    quint64 flags = 0;

    bool operator==(const ShortcutKey&) const = default;
};

// A whole plan: the assistant's explanation and the ordered steps (possibly none).
struct ComputerPlan {
    QString explanation;
    QList<ComputerStep> steps;

    bool operator==(const ComputerPlan&) const = default;

    static constexpr int kMaximumSteps = 12;
    static constexpr int kMaximumExplanationCharacters = 4000;
    static constexpr int kMaximumTitleCharacters = 300;
    static constexpr int kMaximumAppCharacters = 159;
    static constexpr int kMaximumAddressCharacters = 2048;
    static constexpr int kMaximumTypingUnits = 2000;  // UTF-16 code units
    static constexpr quint64 kCommandFlag = 0x100000;

    // The JSON Schema handed to the assistant (one line, 448 characters).
    static const QString& schema();
    // The prompt prefix; the user's request is appended directly after its final blank.
    static const QString& instructions();
    // The keyboard-shortcut allow-list, by exact lower-case key name.
    static const QMap<QString, ShortcutKey>& keys();

    // The plan itself when every rule holds, otherwise the message of the first rule broken.
    // Never repairs anything.
    Result<ComputerPlan> validated() const;

    QJsonObject toJson() const;
    QByteArray encode() const;
    // Strict decoding: a missing key or a value of the wrong JSON type fails with a
    // description of what is wrong; keys that are not part of the format are ignored.
    static Result<ComputerPlan> fromJson(const QJsonValue& value);
    static Result<ComputerPlan> decode(const QByteArray& data);
};

namespace PlanText {

// User-perceived characters (extended grapheme clusters).
qsizetype characterCount(const QString& text);
// The Unicode White_Space property.
bool isWhiteSpace(char32_t scalar);
// The Unicode Bidi_Control property: the marks, embeddings, overrides and isolates that
// change the order in which text is shown.
bool isDirectionControl(char32_t scalar);

}  // namespace PlanText
