// The operating system commands of TerminalScreen: titles, the current directory,
// notifications and progress, and the colour and version reports.
#include "core/terminal/TerminalScreen.h"

#include <QSysInfo>
#include <QUrl>

#include <algorithm>

namespace {

bool isControl(char32_t scalar) {
    return scalar < 0x20 || (scalar >= 0x7F && scalar <= 0x9F);
}

// The text without control characters, cut after `limit` characters (a surrogate pair counts
// as one and is never split).
QString cleanText(QStringView text, int limit) {
    QString clean;
    int characters = 0;
    for (qsizetype i = 0; i < text.size() && characters < limit; ++i) {
        const QChar unit = text[i];
        if (unit.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            clean += unit;
            clean += text[++i];
            ++characters;
        } else if (!isControl(unit.unicode())) {
            clean += unit;
            ++characters;
        }
    }
    return clean;
}

// Characters, a surrogate pair counting as one.
qsizetype characterCount(QStringView text) {
    return text.size() - std::count_if(text.begin(), text.end(),
                                       [](QChar unit) { return unit.isLowSurrogate(); });
}

// A whole decimal number of at most `maxDigits` digits, or -1.
int decimal(QStringView text, int maxDigits = 3) {
    if (text.isEmpty() || text.size() > maxDigits) {
        return -1;
    }
    int value = 0;
    for (const QChar unit : text) {
        const char16_t digit = unit.unicode();
        if (digit < u'0' || digit > u'9') {
            return -1;
        }
        value = value * 10 + (digit - u'0');
    }
    return value;
}

// "rgb:rrrr/gggg/bbbb" of a 0xRRGGBB colour, each component repeated to 16 bits.
QString colorSpecification(std::uint32_t rgb) {
    QString text = QStringLiteral("rgb:");
    for (const int shift : {16, 8, 0}) {
        const QString component =
            QStringLiteral("%1").arg((rgb >> shift) & 0xFF, 2, 16, QLatin1Char('0'));
        if (shift != 16) {
            text += QLatin1Char('/');
        }
        text += component + component;
    }
    return text;
}

QString terminator(bool bellTerminated) {
    return bellTerminated ? QStringLiteral("\a") : QStringLiteral("\x1b\\");
}

}  // namespace

void TerminalScreen::setOnEvent(std::function<void(const TerminalScreenEvent&)> callback) {
    m_onEvent = std::move(callback);
}

void TerminalScreen::setDefaultColors(std::uint32_t foreground, std::uint32_t background,
                                      std::uint32_t cursor) {
    m_defaultForeground = foreground & 0xFFFFFF;
    m_defaultBackground = background & 0xFFFFFF;
    m_cursorColor = cursor & 0xFFFFFF;
}

void TerminalScreen::emitEvent(TerminalScreenEvent::Kind kind, QString title, QString body) {
    if (m_onEvent) {
        m_onEvent(TerminalScreenEvent{kind, std::move(title), std::move(body)});
    }
}

void TerminalScreen::operatingSystemCommand(QStringView text, bool bellTerminated) {
    spend(1);
    const qsizetype separator = text.indexOf(QLatin1Char(';'));
    const int code = decimal(separator < 0 ? text : text.first(separator));
    const QStringView data = separator < 0 ? QStringView() : text.sliced(separator + 1);
    switch (code) {
        case 0:  // title and icon name
            m_iconName = cleanText(data, kMaxTitleLength);
            setTitle(cleanText(data, kMaxTitleLength));
            break;
        case 1:  // icon name
            m_iconName = cleanText(data, kMaxTitleLength);
            break;
        case 2:  // title
            setTitle(cleanText(data, kMaxTitleLength));
            break;
        case 4:
            paletteQuery(data, bellTerminated);
            break;
        case 7:
            setCurrentDirectoryFromUrl(data);
            break;
        case 8:
            hyperlinkCommand(text);
            break;
        case 9:
            consoleCommand(data);
            break;
        case 10:
        case 11:
        case 12:
            colorQuery(code, data, bellTerminated);
            break;
        case 52:
            clipboardCommand(data);
            break;
        case 99:
            kittyNotification(data);
            break;
        case 777: {
            // notify;TITLE;BODY (the body may hold further ";").
            const qsizetype titleStart = data.indexOf(QLatin1Char(';'));
            if (titleStart < 0 || data.first(titleStart) != u"notify") {
                break;
            }
            const QStringView rest = data.sliced(titleStart + 1);
            const qsizetype bodyStart = rest.indexOf(QLatin1Char(';'));
            const QStringView title = bodyStart < 0 ? rest : rest.first(bodyStart);
            const QStringView body = bodyStart < 0 ? QStringView() : rest.sliced(bodyStart + 1);
            emitEvent(TerminalScreenEvent::Kind::Notification,
                      cleanText(title, kMaxNotificationLength),
                      cleanText(body, kMaxNotificationLength));
            break;
        }
        default:
            break;
    }
}

void TerminalScreen::setTitle(const QString& title) {
    if (title != m_title) {
        m_title = title;
        emitEvent(TerminalScreenEvent::Kind::TitleChanged);
    }
}

void TerminalScreen::windowOperation(const int* parameters, int count) {
    // Only the title stack: 22 pushes and 23 pops the title (second parameter 0 or 2, or
    // none); the icon name is not stacked. The title report (21) stays unanswered, so
    // output cannot make the terminal type text of its choosing.
    const int which = count >= 2 ? parameters[1] : 0;
    if (which != 0 && which != 2) {
        return;
    }
    if (parameters[0] == 22) {
        if (int(m_titleStack.size()) == kTitleStackDepth) {
            m_titleStack.erase(m_titleStack.begin());
        }
        m_titleStack.push_back(m_title);
    } else if (parameters[0] == 23 && !m_titleStack.empty()) {
        QString title = std::move(m_titleStack.back());
        m_titleStack.pop_back();
        setTitle(title);
    }
}

void TerminalScreen::setCurrentDirectoryFromUrl(QStringView url) {
    // file://HOST/PATH, for this machine only: HOST empty, "localhost" or its host name.
    static const QLatin1String kScheme("file://");
    if (!url.startsWith(kScheme, Qt::CaseInsensitive)) {
        return;
    }
    const QStringView rest = url.sliced(kScheme.size());
    const qsizetype slash = rest.indexOf(QLatin1Char('/'));
    if (slash < 0) {
        return;
    }
    const QStringView host = rest.first(slash);
    if (!host.isEmpty() && host.compare(u"localhost", Qt::CaseInsensitive) != 0 &&
        host.compare(QSysInfo::machineHostName(), Qt::CaseInsensitive) != 0) {
        return;
    }
    const QString path = QUrl::fromPercentEncoding(rest.sliced(slash).toUtf8());
    if (std::any_of(path.cbegin(), path.cend(),
                    [](QChar unit) { return isControl(unit.unicode()); }) ||
        path == m_currentDirectory) {
        return;
    }
    m_currentDirectory = path;
    emitEvent(TerminalScreenEvent::Kind::DirectoryChanged);
}

void TerminalScreen::consoleCommand(QStringView text) {
    // 4;STATE;PERCENT is a progress report; other numbered commands are not supported;
    // anything else is the text of a notification.
    const qsizetype separator = text.indexOf(QLatin1Char(';'));
    const int command = decimal(separator < 0 ? text : text.first(separator));
    if (command == 4) {
        const QStringView rest = separator < 0 ? QStringView() : text.sliced(separator + 1);
        const qsizetype split = rest.indexOf(QLatin1Char(';'));
        const int state = decimal(split < 0 ? rest : rest.first(split));
        const int percent = split < 0 ? 0 : decimal(rest.sliced(split + 1));
        if (state < 0 || state > 4 || percent < 0) {
            return;
        }
        const TerminalProgress progress{state, state == 0 ? 0 : std::min(percent, 100)};
        if (progress != m_progress) {
            m_progress = progress;
            emitEvent(TerminalScreenEvent::Kind::ProgressChanged);
        }
    } else if (command < 0) {
        emitEvent(TerminalScreenEvent::Kind::Notification, QString(),
                  cleanText(text, kMaxNotificationLength));
    }
}

void TerminalScreen::kittyNotification(QStringView text) {
    // METADATA;PAYLOAD, metadata as key=value pairs split by ":". Only a notification sent
    // whole (no "d=0"), in plain text (no "e=1"), is shown; the payload is its title unless
    // "p=body".
    const qsizetype separator = text.indexOf(QLatin1Char(';'));
    if (separator < 0) {
        return;
    }
    bool body = false;
    for (const QStringView pair : text.first(separator).split(QLatin1Char(':'))) {
        if (pair == u"d=0" || pair == u"e=1") {
            return;
        }
        if (pair.startsWith(u"p=")) {
            if (pair != u"p=title" && pair != u"p=body") {
                return;  // closing, queries, icons, buttons: not supported
            }
            body = pair == u"p=body";
        }
    }
    const QString payload = cleanText(text.sliced(separator + 1), kMaxNotificationLength);
    if (payload.isEmpty()) {
        return;
    }
    emitEvent(TerminalScreenEvent::Kind::Notification, body ? QString() : payload,
              body ? payload : QString());
}

void TerminalScreen::colorQuery(int code, QStringView text, bool bellTerminated) {
    // Only queries are answered; setting these colours is left to the theme.
    if (text != u"?") {
        return;
    }
    const std::uint32_t rgb = code == 10   ? m_defaultForeground
                              : code == 11 ? m_defaultBackground
                                           : m_cursorColor;
    respond(QStringLiteral("\x1b]%1;").arg(code) + colorSpecification(rgb) +
            terminator(bellTerminated));
}

void TerminalScreen::paletteQuery(QStringView text, bool bellTerminated) {
    // INDEX;COLOUR pairs; each query ("?") of an index 0-255 is answered. Setting the palette
    // is not supported.
    const auto fields = text.split(QLatin1Char(';'));
    for (qsizetype i = 0; i + 1 < fields.size(); i += 2) {
        const int index = decimal(fields[i]);
        if (index >= 0 && index <= 255 && fields[i + 1] == u"?") {
            respond(QStringLiteral("\x1b]4;%1;").arg(index) +
                    colorSpecification(paletteColor(index)) + terminator(bellTerminated));
        }
    }
}

void TerminalScreen::reportVersion() {
    respond(QStringLiteral("\x1bP>|VELK " VELK_VERSION "\x1b\\"));
}

void TerminalScreen::clipboardCommand(QStringView text) {
    // SELECTION;BASE64. Reads ("?") are never answered: the clipboard may hold what the user
    // copied elsewhere. Writes are ignored unless allowed, and when over kMaxClipboardBytes
    // (the parser cuts the command a little above that, so a cut one is always over).
    const qsizetype separator = text.indexOf(QLatin1Char(';'));
    if (!m_clipboardWritesAllowed || separator < 0 || separator > 8) {
        return;
    }
    for (const QChar unit : text.first(separator)) {
        if (!QStringView(u"cpqs01234567").contains(unit)) {
            return;
        }
    }
    const QStringView payload = text.sliced(separator + 1);
    constexpr qsizetype kMaxEncoded = 4 * ((qsizetype(kMaxClipboardBytes) + 2) / 3);
    if (payload.isEmpty() || payload == u"?" || payload.size() > kMaxEncoded) {
        return;
    }
    spend(payload.size() / 16);
    const auto result =
        QByteArray::fromBase64Encoding(payload.toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    if (!result || result.decoded.isEmpty() || result.decoded.size() > kMaxClipboardBytes) {
        return;
    }
    emitEvent(TerminalScreenEvent::Kind::ClipboardWrite, {}, QString::fromUtf8(result.decoded));
}

QString TerminalScreen::reportedStateViolation() const {
    if (characterCount(m_title) > kMaxTitleLength || characterCount(m_iconName) > kMaxTitleLength) {
        return QStringLiteral("a title of %1 or icon name of %2 characters")
            .arg(characterCount(m_title))
            .arg(characterCount(m_iconName));
    }
    if (int(m_titleStack.size()) > kTitleStackDepth) {
        return QStringLiteral("%1 saved titles").arg(m_titleStack.size());
    }
    for (const std::vector<std::uint8_t>& stack : m_keyboardFlags) {
        if (int(stack.size()) > kKeyboardFlagStackDepth) {
            return QStringLiteral("%1 pushed keyboard flags").arg(stack.size());
        }
    }
    return {};
}
