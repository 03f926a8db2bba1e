#include "terminal/TerminalScreen.h"

#include "terminal/TerminalWidth.h"

#include <algorithm>
#include <array>
#include <utility>

namespace {

constexpr PackedCell kBlankCell{};
constexpr int kMaxParameterValue = TerminalParser::kMaxParameterValue;
// 512 parameter characters hold at most 513 fields.
constexpr int kMaxParameters = TerminalParser::kMaxSequenceLength + 1;

// The 16-colour palette, 0xRRGGBB.
constexpr std::array<std::uint32_t, 16> kPalette = {
    0x182538, 0xF4808A, 0x83DFC0, 0xF6D28B, 0x7AAAF7, 0xC5A0EF, 0x62DCDD, 0xD7E2EF,
    0x6B819A, 0xFFA0A8, 0xA2EECF, 0xFFE7B0, 0xA1C1FF, 0xDABEFF, 0x9AEFF0, 0xFFFFFF,
};

// Colour word (see PackedCell) of 256-colour index n; larger numbers give near-white greys.
constexpr std::uint32_t computeIndexedColorWord(int n) {
    std::uint32_t rgb = 0;
    if (n < 16) {
        rgb = kPalette[std::size_t(std::max(n, 0))];
    } else if (n < 232) {
        constexpr std::array<std::uint32_t, 6> levels = {0, 95, 135, 175, 215, 255};
        const int i = n - 16;
        rgb = (levels[std::size_t(i / 36)] << 16) | (levels[std::size_t(i / 6 % 6)] << 8) |
              levels[std::size_t(i % 6)];
    } else {
        const std::uint32_t grey = std::uint32_t(std::min((n - 232) * 10 + 8, 255));
        rgb = (grey << 16) | (grey << 8) | grey;
    }
    return PackedCell::kColorPresent | rgb;
}

constexpr auto kIndexedColorWords = [] {
    std::array<std::uint32_t, 256> words{};
    for (int n = 0; n < 256; ++n) {
        words[std::size_t(n)] = computeIndexedColorWord(n);
    }
    return words;
}();

std::uint32_t indexedColorWord(int n) {
    return n >= 0 && n < 256 ? kIndexedColorWords[std::size_t(n)] : computeIndexedColorWord(n);
}

std::uint32_t rgbColorWord(int red, int green, int blue) {
    auto component = [](int value) { return std::uint32_t(std::clamp(value, 0, 255)); };
    return PackedCell::kColorPresent | (component(red) << 16) | (component(green) << 8) |
           component(blue);
}

// Splits parameter characters at ";" (empty fields kept). A field made only of digits is
// its value capped at 1,000,000; an empty field or one with any other character is 0.
// `accepted` characters (besides digits) keep a field valid but are skipped: used for ":".
int parseParameters(std::string_view text, int* out, int capacity) {
    int count = 0;
    int value = 0;
    bool valid = true;
    for (const char character : text) {
        if (character == ';') {
            if (count < capacity) {
                out[count++] = valid ? value : 0;
            }
            value = 0;
            valid = true;
        } else if (character >= '0' && character <= '9') {
            value = value >= kMaxParameterValue / 10
                        ? kMaxParameterValue
                        : std::min(value * 10 + (character - '0'), kMaxParameterValue);
        } else {
            valid = false;
        }
    }
    if (count < capacity) {
        out[count++] = valid ? value : 0;
    }
    return count;
}

// DEC Special Graphics: the characters 0x5F-0x7E of G0 after ESC ( 0.
constexpr std::array<char16_t, 32> kLineDrawing = {
    0x00A0, 0x25C6, 0x2592, 0x2409, 0x240C, 0x240D, 0x240A, 0x00B0, 0x00B1, 0x2424, 0x240B,
    0x2518, 0x2510, 0x250C, 0x2514, 0x253C, 0x23BA, 0x23BB, 0x2500, 0x23BC, 0x23BD, 0x251C,
    0x2524, 0x2534, 0x252C, 0x2502, 0x2264, 0x2265, 0x03C0, 0x2260, 0x00A3, 0x00B7,
};

void appendScalar(QString& text, char32_t scalar) {
    if (scalar < 0x10000) {
        text.append(QChar(char16_t(scalar)));
    } else {
        const char32_t value = scalar - 0x10000;
        text.append(QChar(char16_t(0xD800 + (value >> 10))));
        text.append(QChar(char16_t(0xDC00 + (value & 0x3FF))));
    }
}

void blank(std::vector<PackedCell>& cells, int columns) {
    cells.assign(std::size_t(columns), kBlankCell);
}

}  // namespace

TerminalColor TerminalColor::fromHex(QStringView text) {
    qsizetype start = 0;
    qsizetype end = text.size();
    while (start < end && !text[start].isLetterOrNumber()) {
        ++start;
    }
    while (end > start && !text[end - 1].isLetterOrNumber()) {
        --end;
    }
    bool ok = false;
    const qulonglong value = text.mid(start, end - start).toULongLong(&ok, 16);
    return fromRgb(ok ? std::uint32_t(value & 0xFFFFFF) : 0);
}

QString TerminalColor::hex() const {
    return QStringLiteral("%1%2%3")
        .arg(red, 2, 16, QLatin1Char('0'))
        .arg(green, 2, 16, QLatin1Char('0'))
        .arg(blue, 2, 16, QLatin1Char('0'))
        .toUpper();
}

QJsonObject toJson(const TerminalCell& cell) {
    QJsonObject object{{QStringLiteral("text"), cell.text},
                       {QStringLiteral("bold"), cell.bold},
                       {QStringLiteral("inverse"), cell.inverse},
                       {QStringLiteral("continuation"), cell.continuation}};
    if (cell.foreground) {
        object.insert(QStringLiteral("foreground"), cell.foreground->hex());
    }
    if (cell.background) {
        object.insert(QStringLiteral("background"), cell.background->hex());
    }
    return object;
}

TerminalCell terminalCellFromJson(const QJsonObject& object) {
    TerminalCell cell;
    cell.text = object.value(QStringLiteral("text")).toString(QStringLiteral(" "));
    if (object.contains(QStringLiteral("foreground"))) {
        cell.foreground =
            TerminalColor::fromHex(object.value(QStringLiteral("foreground")).toString());
    }
    if (object.contains(QStringLiteral("background"))) {
        cell.background =
            TerminalColor::fromHex(object.value(QStringLiteral("background")).toString());
    }
    cell.bold = object.value(QStringLiteral("bold")).toBool();
    cell.inverse = object.value(QStringLiteral("inverse")).toBool();
    cell.continuation = object.value(QStringLiteral("continuation")).toBool();
    return cell;
}

// ---- Construction and access ---------------------------------------------------------------

TerminalScreen::TerminalScreen(int rows, int columns)
    : m_parser(*this), m_rows(std::max(rows, 1)), m_columns(std::max(columns, 1)) {
    m_grid.lines.resize(std::size_t(m_rows));
    for (Line& line : m_grid.lines) {
        blankLine(line);
    }
    m_scrollBottom = m_rows - 1;
}

TerminalScreen::~TerminalScreen() = default;

TerminalScreen::Line& TerminalScreen::lineOf(Grid& grid, int row) {
    std::size_t index = std::size_t(grid.top + row);
    if (index >= grid.lines.size()) {
        index -= grid.lines.size();
    }
    return grid.lines[index];
}

const TerminalScreen::Line& TerminalScreen::lineOf(const Grid& grid, int row) {
    std::size_t index = std::size_t(grid.top + row);
    if (index >= grid.lines.size()) {
        index -= grid.lines.size();
    }
    return grid.lines[index];
}

TerminalScreen::Line& TerminalScreen::lineAt(int row) {
    return lineOf(m_grid, row);
}

const TerminalScreen::Line& TerminalScreen::lineAt(int row) const {
    return lineOf(m_grid, row);
}

void TerminalScreen::blankLine(Line& line) const {
    if (int(line.cells.size()) == m_columns) {
        std::fill(line.cells.begin(), line.cells.begin() + line.dirty, kBlankCell);
    } else {
        blank(line.cells, m_columns);
    }
    line.marks.clear();
    line.dirty = 0;
    line.hasWide = false;
}

std::span<const PackedCell> TerminalScreen::lineCells(int row) const {
    return lineAt(row).cells;
}

QString TerminalScreen::textOf(const Line& line, int column) {
    const PackedCell& cell = line.cells[std::size_t(column)];
    if (cell.continuation()) {
        return QString();
    }
    QString text;
    appendScalar(text, cell.codePoint());
    if (cell.hasCombining()) {
        for (const CombiningMarks& marks : line.marks) {
            if (marks.column == column) {
                text += marks.text;
                break;
            }
        }
    }
    return text;
}

TerminalCell TerminalScreen::cellOf(const Line& line, int column) {
    const PackedCell& packed = line.cells[std::size_t(column)];
    TerminalCell cell;
    cell.text = textOf(line, column);
    cell.foreground = packed.foreground();
    cell.background = packed.background();
    cell.bold = packed.bold();
    cell.inverse = packed.inverse();
    cell.continuation = packed.continuation();
    return cell;
}

QString TerminalScreen::cellText(int row, int column) const {
    return textOf(lineAt(row), column);
}

TerminalCell TerminalScreen::cell(int row, int column) const {
    return cellOf(lineAt(row), column);
}

std::vector<TerminalCell> TerminalScreen::line(int row) const {
    const Line& source = lineAt(row);
    std::vector<TerminalCell> cells;
    cells.reserve(source.cells.size());
    for (int column = 0; column < int(source.cells.size()); ++column) {
        cells.push_back(cellOf(source, column));
    }
    return cells;
}

std::vector<TerminalCell> TerminalScreen::blankLine() const {
    return std::vector<TerminalCell>(std::size_t(m_columns));
}

const TerminalScreen::Line& TerminalScreen::historyLine(int index) const {
    return m_history[std::size_t((m_historyStart + index) % kScrollbackLimit)];
}

std::span<const PackedCell> TerminalScreen::scrollbackLineCells(int index) const {
    return historyLine(index).cells;
}

QString TerminalScreen::scrollbackCellText(int index, int column) const {
    return textOf(historyLine(index), column);
}

TerminalCell TerminalScreen::scrollbackCell(int index, int column) const {
    return cellOf(historyLine(index), column);
}

std::vector<TerminalCell> TerminalScreen::scrollbackLine(int index) const {
    const Line& source = historyLine(index);
    std::vector<TerminalCell> cells;
    cells.reserve(source.cells.size());
    for (int column = 0; column < int(source.cells.size()); ++column) {
        cells.push_back(cellOf(source, column));
    }
    return cells;
}

std::optional<TerminalPosition> TerminalScreen::alternateSavedCursor() const {
    if (!m_alternate) {
        return std::nullopt;
    }
    return TerminalPosition{m_alternate->row, m_alternate->column};
}

TerminalCell TerminalScreen::style() const {
    TerminalCell cell;
    cell.foreground = m_style.foreground();
    cell.background = m_style.background();
    cell.bold = m_style.bold();
    cell.inverse = m_style.inverse();
    return cell;
}

// ---- Output ----------------------------------------------------------------------------------

void TerminalScreen::feed(QByteArrayView data) {
    m_parser.feed(data);
    Q_ASSERT_X(invariantViolation().isEmpty(), "TerminalScreen::feed",
               qPrintable(invariantViolation()));
}

void TerminalScreen::feed(QStringView text) {
    m_parser.feed(text);
    Q_ASSERT_X(invariantViolation().isEmpty(), "TerminalScreen::feed",
               qPrintable(invariantViolation()));
}

void TerminalScreen::setOnResponse(std::function<void(const QString&)> callback) {
    m_onResponse = std::move(callback);
}

void TerminalScreen::respond(const QString& reply) {
    if (m_onResponse) {
        m_onResponse(reply);
    }
}

// ---- Printing --------------------------------------------------------------------------------

void TerminalScreen::breakWideCharacterAt(Line& line, int column) {
    if (!line.hasWide) {
        return;
    }
    PackedCell* cells = line.cells.data();
    if (cells[column].continuation()) {
        if (column > 0 && !cells[column - 1].continuation()) {
            cells[column - 1] = kBlankCell;
        }
    } else if (column + 1 < m_columns && cells[column + 1].continuation()) {
        cells[column + 1] = kBlankCell;
    }
}

void TerminalScreen::printAscii(const char* text, std::size_t length) {
    if (m_lineDrawing) {
        for (std::size_t i = 0; i < length; ++i) {
            const auto character = static_cast<unsigned char>(text[i]);
            putCell(character >= 0x5F ? kLineDrawing[character - 0x5F] : character, false);
        }
        return;
    }
    const std::uint32_t flags = m_style.codeAndFlags & ~PackedCell::kCodeMask;
    const std::uint32_t foreground = m_style.foregroundWord;
    const std::uint32_t background = m_style.backgroundWord;
    while (length > 0) {
        if (m_pendingWrap) {
            wrapToNextLine();
        }
        Line& line = lineAt(m_row);
        const int count = int(std::min<std::size_t>(std::size_t(m_columns - m_column), length));
        if (line.hasWide) {
            breakWideCharacterAt(line, m_column);
            breakWideCharacterAt(line, m_column + count - 1);
        }
        PackedCell* cell = line.cells.data() + m_column;
        for (int i = 0; i < count; ++i) {
            cell[i].codeAndFlags = static_cast<unsigned char>(text[i]) | flags;
            cell[i].foregroundWord = foreground;
            cell[i].backgroundWord = background;
        }
        m_lastGraphic = static_cast<unsigned char>(text[count - 1]);
        line.dirty = std::max(line.dirty, m_column + count);
        text += count;
        length -= std::size_t(count);
        m_column += count;
        if (m_column >= m_columns) {
            m_column = m_columns - 1;
            m_pendingWrap = true;
        }
    }
}

void TerminalScreen::print(char32_t scalar) {
    put(scalar);
}

void TerminalScreen::put(char32_t scalar) {
    switch (terminalCellWidth(scalar)) {
        case TerminalCellWidth::Zero:
            addCombining(scalar);
            return;
        case TerminalCellWidth::Single:
            putCell(scalar, false);
            return;
        case TerminalCellWidth::Double:
            putCell(scalar, true);
            return;
    }
}

void TerminalScreen::putCell(char32_t scalar, bool doubleWidth) {
    if (m_pendingWrap || (doubleWidth && m_column == m_columns - 1)) {
        wrapToNextLine();
    }
    Line& line = lineAt(m_row);
    const std::uint32_t flags = m_style.codeAndFlags & ~PackedCell::kCodeMask;
    breakWideCharacterAt(line, m_column);
    line.cells[std::size_t(m_column)] = {scalar | flags, m_style.foregroundWord,
                                         m_style.backgroundWord};
    line.dirty = std::max(line.dirty, std::min(m_column + (doubleWidth ? 2 : 1), m_columns));
    if (doubleWidth && m_column + 1 < m_columns) {
        line.hasWide = true;
        breakWideCharacterAt(line, m_column + 1);
        line.cells[std::size_t(m_column + 1)] = {PackedCell::kContinuation | flags,
                                                 m_style.foregroundWord, m_style.backgroundWord};
    }
    m_lastGraphic = scalar;
    m_column += doubleWidth ? 2 : 1;
    if (m_column >= m_columns) {
        m_column = m_columns - 1;
        m_pendingWrap = true;
    }
}

void TerminalScreen::addCombining(char32_t scalar) {
    // The mark belongs to the character written last: left of the cursor, or under it while
    // a wrap is pending in the last column; a double-width character owns its right half.
    int column = m_pendingWrap ? m_column : m_column - 1;
    if (column < 0) {
        return;
    }
    Line& line = lineAt(m_row);
    if (line.cells[std::size_t(column)].continuation() && column > 0) {
        --column;
    }
    PackedCell& cell = line.cells[std::size_t(column)];
    auto entry =
        std::find_if(line.marks.begin(), line.marks.end(),
                     [column](const CombiningMarks& marks) { return marks.column == column; });
    if (entry == line.marks.end()) {
        line.marks.push_back({column, QString()});
        entry = line.marks.end() - 1;
    } else if (!cell.hasCombining()) {
        entry->text.clear();  // left over from a character since overwritten
    }
    cell.codeAndFlags |= PackedCell::kHasCombining;
    line.dirty = std::max(line.dirty, column + 1);
    // The cap keeps hostile output from growing a cell without bound.
    const auto scalars = std::count_if(entry->text.cbegin(), entry->text.cend(),
                                       [](QChar unit) { return !unit.isLowSurrogate(); });
    if (scalars < kMaxCombiningPerCell) {
        appendScalar(entry->text, scalar);
    }
}

void TerminalScreen::repeatLastCharacter(int count) {
    if (m_lastGraphic == 0) {
        return;
    }
    const char32_t scalar = m_lastGraphic;
    const bool doubleWidth = terminalCellWidth(scalar) == TerminalCellWidth::Double;
    // Never more than one screenful.
    const int repeats = std::min(count, m_rows * m_columns);
    for (int i = 0; i < repeats; ++i) {
        putCell(scalar, doubleWidth);
    }
}

// ---- Controls and escapes ------------------------------------------------------------------

void TerminalScreen::wrapToNextLine() {
    m_column = 0;
    m_pendingWrap = false;
    if (m_row == m_scrollBottom) {
        scrollUp();
    } else {
        m_row = std::min(m_row + 1, m_rows - 1);
    }
}

void TerminalScreen::lineFeed() {
    m_pendingWrap = false;
    if (m_row == m_scrollBottom) {
        scrollUp();
    } else {
        m_row = std::min(m_row + 1, m_rows - 1);
    }
}

void TerminalScreen::reverseIndex() {
    if (m_row != m_scrollTop) {
        m_row = std::max(m_row - 1, 0);
    } else {
        scrollDown(1);
    }
}

void TerminalScreen::control(char32_t character) {
    switch (character) {
        case 0x08:  // BS
            m_column = std::max(m_column - 1, 0);
            m_pendingWrap = false;
            break;
        case 0x09:  // HT — fixed tab stops every 8 columns
            m_column = std::min((m_column / 8) * 8 + 8, m_columns - 1);
            break;
        case 0x0A:  // LF
        case 0x0B:  // VT
        case 0x0C:  // FF
            lineFeed();
            break;
        case 0x0D:  // CR
            m_column = 0;
            m_pendingWrap = false;
            break;
        default:  // BEL and the other controls are ignored
            break;
    }
}

void TerminalScreen::escape(char32_t intermediate, char32_t finalCharacter) {
    if (intermediate == '(') {
        // SCS — designate G0: "0" is DEC Special Graphics, anything else plain ASCII.
        m_lineDrawing = finalCharacter == '0';
        return;
    }
    if (intermediate != 0) {
        return;  // G1-G3 designations, DECALN, character-set announcements: not supported
    }
    switch (finalCharacter) {
        case '7':  // DECSC
            m_savedCursor = {m_row, m_column};
            break;
        case '8':  // DECRC
            m_row = m_savedCursor.row;
            m_column = m_savedCursor.column;
            clamp();
            break;
        case 'D':  // IND
            lineFeed();
            break;
        case 'E':  // NEL
            m_column = 0;
            lineFeed();
            break;
        case 'M':  // RI
            reverseIndex();
            break;
        case 'c':  // RIS
            fullReset();
            break;
        default:
            break;
    }
}

void TerminalScreen::fullReset() {
    m_alternate.reset();
    reset();
    m_savedCursor = {};
    m_cursorVisible = true;
    m_bracketedPaste = false;
    m_applicationCursor = false;
    m_lineDrawing = false;
    m_lastGraphic = 0;
}

// ---- Control sequences ---------------------------------------------------------------------

void TerminalScreen::controlSequence(const TerminalControlSequence& sequence) {
    if (sequence.hasIntermediates) {
        return;  // DECSCUSR, DECSTR, DECRQM and the like: none supported
    }
    const char finalCharacter = sequence.finalCharacter;
    if (finalCharacter == 'm' && sequence.marker == 0 && sequence.hasSubparameters) {
        selectGraphicRenditionWithSubparameters(sequence.parameters);
        return;
    }
    std::array<int, kMaxParameters> parsed;
    const int* parameters = sequence.parameterValues;
    int count = sequence.parameterCount;
    if (count == 0) {
        count = parseParameters(sequence.parameters, parsed.data(), kMaxParameters);
        parameters = parsed.data();
    }
    const int first = parameters[0];
    const int n = std::max(first, 1);

    if (sequence.marker == '?') {
        switch (finalCharacter) {
            case 'h':  // DECSET
                setMode(parameters, count, true);
                break;
            case 'l':  // DECRST
                setMode(parameters, count, false);
                break;
            case 'n':  // DSR, private form: answered like the plain report
                break;
            default:
                return;  // kitty keyboard query, XTQMODKEYS, …: ignored
        }
        if (finalCharacter != 'n') {
            return;
        }
    } else if (sequence.marker == '>') {
        if (finalCharacter == 'c') {  // secondary DA, answered like the primary one
            respond(QStringLiteral("\x1b[?1;2c"));
        }
        return;  // modifyOtherKeys, kitty keyboard push, XTVERSION …: ignored
    } else if (sequence.marker != 0) {
        return;  // "<" (kitty keyboard pop) and "=" forms: ignored
    }

    switch (finalCharacter) {
        case 'A':  // CUU
            m_row -= n;
            clamp();
            break;
        case 'B':  // CUD
        case 'e':  // VPR
            m_row += n;
            clamp();
            break;
        case 'C':  // CUF
        case 'a':  // HPR
            m_column += n;
            clamp();
            break;
        case 'D':  // CUB
            m_column -= n;
            clamp();
            break;
        case 'E':  // CNL
            m_row += n;
            m_column = 0;
            clamp();
            break;
        case 'F':  // CPL
            m_row -= n;
            m_column = 0;
            clamp();
            break;
        case 'G':  // CHA
        case '`':  // HPA
            m_column = n - 1;
            clamp();
            break;
        case 'd':  // VPA
            m_row = n - 1;
            clamp();
            break;
        case 'H':  // CUP
        case 'f':  // HVP
            m_row = n - 1;
            m_column = count == 1 ? 0 : std::max(parameters[1], 1) - 1;
            clamp();
            break;
        case 'J':  // ED
            eraseInDisplay(first);
            break;
        case 'K':  // EL
            if (first == 0) {
                erase(m_row, m_column, m_columns - 1);
            } else if (first == 1) {
                erase(m_row, 0, m_column);
            } else {
                erase(m_row, 0, m_columns - 1);
            }
            break;
        case 'X':  // ECH
            erase(m_row, m_column, std::min(m_column + n - 1, m_columns - 1));
            break;
        case '@':  // ICH
            insertCharacters(n);
            break;
        case 'P':  // DCH
            deleteCharacters(n);
            break;
        case 'L':  // IL
            insertLines(n);
            break;
        case 'M':  // DL
            deleteLines(n);
            break;
        case 'S':  // SU
            for (int i = std::min(m_rows, n); i > 0; --i) {
                scrollUp();
            }
            break;
        case 'T':  // SD
            scrollDown(std::min(m_rows, n));
            break;
        case 'b':  // REP
            repeatLastCharacter(n);
            break;
        case 'm':  // SGR
            selectGraphicRendition(parameters, count);
            break;
        case 's':  // SCOSC
            m_savedCursor = {m_row, m_column};
            break;
        case 'u':  // SCORC
            m_row = m_savedCursor.row;
            m_column = m_savedCursor.column;
            clamp();
            break;
        case 'r': {  // DECSTBM
            const int top = n;
            const int bottom = count >= 2 && parameters[1] > 0 ? parameters[1] : m_rows;
            const int last = std::min(std::max(bottom, 1) - 1, m_rows - 1);
            if (top - 1 < last) {
                m_scrollTop = top - 1;
                m_scrollBottom = last;
                m_row = 0;
                m_column = 0;
                // The cursor moved home: a wrap pending from the old position is void.
                m_pendingWrap = false;
            }
            break;
        }
        case 'n':  // DSR
            if (first == 5) {
                respond(QStringLiteral("\x1b[0n"));
            } else if (first == 6) {
                respond(QStringLiteral("\x1b[%1;%2R").arg(m_row + 1).arg(m_column + 1));
            }
            break;
        case 'c':  // DA
            respond(QStringLiteral("\x1b[?1;2c"));
            break;
        default:
            break;
    }
}

void TerminalScreen::setMode(const int* parameters, int count, bool enable) {
    for (int i = 0; i < count; ++i) {
        switch (parameters[i]) {
            case 1:  // DECCKM
                m_applicationCursor = enable;
                break;
            case 25:  // DECTCEM
                m_cursorVisible = enable;
                break;
            case 2004:
                m_bracketedPaste = enable;
                break;
            case 47:
            case 1047:
            case 1049:
                if (enable) {
                    switchToAlternateScreen();
                } else {
                    returnFromAlternateScreen();
                }
                break;
            default:
                break;
        }
    }
}

void TerminalScreen::selectGraphicRendition(const int* parameters, int count) {
    for (int i = 0; i < count; ++i) {
        const int code = parameters[i];
        const int following = count - i - 1;
        switch (code) {
            case 0:
                m_style = PackedCell{};
                break;
            case 1:
                m_style.codeAndFlags |= PackedCell::kBold;
                break;
            case 22:
                m_style.codeAndFlags &= ~PackedCell::kBold;
                break;
            case 7:
                m_style.codeAndFlags |= PackedCell::kInverse;
                break;
            case 27:
                m_style.codeAndFlags &= ~PackedCell::kInverse;
                break;
            case 39:
                m_style.foregroundWord = 0;
                break;
            case 49:
                m_style.backgroundWord = 0;
                break;
            case 38:
            case 48: {
                std::uint32_t word = 0;
                if (following >= 2 && parameters[i + 1] == 5) {
                    word = indexedColorWord(parameters[i + 2]);
                    i += 2;
                } else if (following >= 4 && parameters[i + 1] == 2) {
                    word = rgbColorWord(parameters[i + 2], parameters[i + 3], parameters[i + 4]);
                    i += 4;
                }
                (code == 38 ? m_style.foregroundWord : m_style.backgroundWord) = word;
                break;
            }
            default:
                if (code >= 30 && code <= 37) {
                    m_style.foregroundWord = indexedColorWord(code - 30);
                } else if (code >= 90 && code <= 97) {
                    m_style.foregroundWord = indexedColorWord(code - 82);
                } else if (code >= 40 && code <= 47) {
                    m_style.backgroundWord = indexedColorWord(code - 40);
                } else if (code >= 100 && code <= 107) {
                    m_style.backgroundWord = indexedColorWord(code - 92);
                }
                break;
        }
    }
}

// SGR with ":"-separated sub-parameters (ITU T.416 colours such as 38:2::255:0:0, underline
// styles such as 4:3). A field with sub-parameters stands alone; the others are read as usual.
void TerminalScreen::selectGraphicRenditionWithSubparameters(std::string_view parameters) {
    std::array<int, kMaxParameters> plain;
    int plainCount = 0;
    std::size_t start = 0;
    while (start <= parameters.size()) {
        std::size_t end = parameters.find(';', start);
        if (end == std::string_view::npos) {
            end = parameters.size();
        }
        const std::string_view field = parameters.substr(start, end - start);
        if (field.find(':') == std::string_view::npos) {
            parseParameters(field, &plain[std::size_t(plainCount++)], 1);
        } else {
            selectGraphicRendition(plain.data(), plainCount);
            plainCount = 0;
            std::array<int, 8> parts{};
            int partCount = 0;
            std::size_t partStart = 0;
            while (partStart <= field.size() && partCount < int(parts.size())) {
                std::size_t partEnd = field.find(':', partStart);
                if (partEnd == std::string_view::npos) {
                    partEnd = field.size();
                }
                parseParameters(field.substr(partStart, partEnd - partStart),
                                &parts[std::size_t(partCount++)], 1);
                partStart = partEnd + 1;
            }
            const int code = parts[0];
            if (code == 38 || code == 48) {
                std::uint32_t word = 0;
                if (parts[1] == 5 && partCount >= 3) {
                    word = indexedColorWord(parts[2]);
                } else if (parts[1] == 2 && partCount >= 6) {  // 38:2:colourspace:r:g:b
                    word = rgbColorWord(parts[3], parts[4], parts[5]);
                } else if (parts[1] == 2 && partCount == 5) {  // 38:2:r:g:b
                    word = rgbColorWord(parts[2], parts[3], parts[4]);
                }
                (code == 38 ? m_style.foregroundWord : m_style.backgroundWord) = word;
            } else {
                // Only the main code counts (4:3, a curly underline, is an underline).
                selectGraphicRendition(&code, 1);
            }
        }
        start = end + 1;
    }
    selectGraphicRendition(plain.data(), plainCount);
}

// ---- Primitives --------------------------------------------------------------------------------

void TerminalScreen::clamp() {
    m_row = std::clamp(m_row, 0, m_rows - 1);
    m_column = std::clamp(m_column, 0, m_columns - 1);
    m_pendingWrap = false;
}

void TerminalScreen::erase(int row, int from, int to) {
    if (to < from) {
        return;
    }
    blankRange(lineAt(row), from, to);
}

void TerminalScreen::blankRange(Line& line, int from, int to) {
    std::fill(line.cells.begin() + from, line.cells.begin() + to + 1, kBlankCell);
}

void TerminalScreen::eraseInDisplay(int mode) {
    switch (mode) {
        case 0:
            erase(m_row, m_column, m_columns - 1);
            for (int row = m_row + 1; row < m_rows; ++row) {
                blankLine(lineAt(row));
            }
            break;
        case 1:
            for (int row = 0; row < m_row; ++row) {
                blankLine(lineAt(row));
            }
            erase(m_row, 0, m_column);
            break;
        case 2:
        case 3:
            for (int row = 0; row < m_rows; ++row) {
                blankLine(lineAt(row));
            }
            if (mode == 3) {
                // The slots keep their buffers for reuse.
                m_historyStart = 0;
                m_historyCount = 0;
            }
            break;
        default:
            break;
    }
}

void TerminalScreen::insertCharacters(int count) {
    Line& line = lineAt(m_row);
    const int shift = std::min(m_columns - m_column, count);
    auto begin = line.cells.begin() + m_column;
    std::move_backward(begin, line.cells.end() - shift, line.cells.end());
    std::fill(begin, begin + shift, kBlankCell);
    if (line.dirty > m_column) {
        line.dirty = std::min(line.dirty + shift, m_columns);
    }
    for (auto it = line.marks.begin(); it != line.marks.end();) {
        if (it->column >= m_column) {
            it->column += shift;
        }
        it = it->column >= m_columns ? line.marks.erase(it) : it + 1;
    }
}

void TerminalScreen::deleteCharacters(int count) {
    Line& line = lineAt(m_row);
    const int shift = std::min(m_columns - m_column, count);
    auto begin = line.cells.begin() + m_column;
    std::move(begin + shift, line.cells.end(), begin);
    std::fill(line.cells.end() - shift, line.cells.end(), kBlankCell);
    for (auto it = line.marks.begin(); it != line.marks.end();) {
        if (it->column >= m_column && it->column < m_column + shift) {
            it = line.marks.erase(it);
            continue;
        }
        if (it->column >= m_column + shift) {
            it->column -= shift;
        }
        ++it;
    }
}

void TerminalScreen::rotateLines(int first, int last, int shift) {
    auto reverse = [this](int from, int to) {
        while (from < to) {
            std::swap(lineAt(from++), lineAt(to--));
        }
    };
    reverse(first, first + shift - 1);
    reverse(first + shift, last);
    reverse(first, last);
}

void TerminalScreen::insertLines(int count) {
    if (m_row < m_scrollTop || m_row > m_scrollBottom) {
        return;
    }
    const int height = m_scrollBottom - m_row + 1;
    const int k = std::min(height, count);
    // The bottom k lines of [row, scrollBottom] leave; blank lines come in at row.
    rotateLines(m_row, m_scrollBottom, height - k);
    for (int row = m_row; row < m_row + k; ++row) {
        blankLine(lineAt(row));
    }
}

void TerminalScreen::deleteLines(int count) {
    if (m_row < m_scrollTop || m_row > m_scrollBottom) {
        return;
    }
    const int height = m_scrollBottom - m_row + 1;
    const int k = std::min(height, count);
    rotateLines(m_row, m_scrollBottom, k % height);
    for (int row = m_scrollBottom - k + 1; row <= m_scrollBottom; ++row) {
        blankLine(lineAt(row));
    }
}

void TerminalScreen::scrollDown(int count) {
    const int height = m_scrollBottom - m_scrollTop + 1;
    const int k = std::min(height, count);
    rotateLines(m_scrollTop, m_scrollBottom, height - k);
    for (int row = m_scrollTop; row < m_scrollTop + k; ++row) {
        blankLine(lineAt(row));
    }
}

void TerminalScreen::pushHistory(Line& line) {
    if (m_history.empty()) {
        m_history.resize(kScrollbackLimit);
    }
    std::size_t slot;
    if (m_historyCount < kScrollbackLimit) {
        slot = std::size_t((m_historyStart + m_historyCount) % kScrollbackLimit);
        ++m_historyCount;
    } else {
        // Full: the oldest line leaves, and its buffer comes back to the caller.
        slot = std::size_t(m_historyStart);
        m_historyStart = (m_historyStart + 1) % kScrollbackLimit;
    }
    std::swap(m_history[slot], line);
}

void TerminalScreen::scrollUp() {
    const bool toHistory = !m_alternate && m_scrollTop == 0;
    if (m_scrollTop == 0 && m_scrollBottom == m_rows - 1) {
        // Whole screen: the top line becomes the new bottom line, nothing else moves.
        Line& leaving = lineAt(0);
        if (toHistory) {
            pushHistory(leaving);
        }
        blankLine(leaving);
        m_grid.top = m_grid.top + 1 == m_rows ? 0 : m_grid.top + 1;
        return;
    }
    Line& leaving = lineAt(m_scrollTop);
    if (toHistory) {
        pushHistory(leaving);
    }
    blankLine(leaving);
    if (m_scrollBottom > m_scrollTop) {
        rotateLines(m_scrollTop, m_scrollBottom, 1);
    }
}

void TerminalScreen::reset() {
    for (Line& line : m_grid.lines) {
        blankLine(line);
    }
    m_grid.top = 0;
    m_row = 0;
    m_column = 0;
    m_style = PackedCell{};
    m_scrollTop = 0;
    m_scrollBottom = m_rows - 1;
    m_pendingWrap = false;
}

void TerminalScreen::prepareFreshGrid(Grid& grid) const {
    grid.lines.resize(std::size_t(m_rows));
    grid.top = 0;
}

void TerminalScreen::switchToAlternateScreen() {
    if (m_alternate) {
        return;
    }
    SavedScreen saved{std::move(m_grid), m_row, m_column};
    m_grid = std::move(m_spareGrid);
    m_spareGrid = Grid{};
    prepareFreshGrid(m_grid);
    m_alternate = std::move(saved);
    reset();
}

void TerminalScreen::returnFromAlternateScreen() {
    if (!m_alternate) {
        return;
    }
    m_spareGrid = std::move(m_grid);
    m_grid = std::move(m_alternate->grid);
    m_row = m_alternate->row;
    m_column = m_alternate->column;
    m_alternate.reset();
    m_scrollTop = 0;
    m_scrollBottom = m_rows - 1;
    clamp();
}

void TerminalScreen::refit(Grid& grid, int& cursorRow, bool saveHistory, int rows, int columns) {
    std::rotate(grid.lines.begin(), grid.lines.begin() + grid.top, grid.lines.end());
    grid.top = 0;
    const int drop = std::max(cursorRow - rows + 1, 0);
    if (drop > 0) {
        const int leaving = std::min<int>(drop, int(grid.lines.size()));
        if (saveHistory) {
            for (int i = 0; i < leaving; ++i) {
                pushHistory(grid.lines[std::size_t(i)]);
            }
        }
        grid.lines.erase(grid.lines.begin(), grid.lines.begin() + leaving);
    }
    for (Line& line : grid.lines) {
        line.cells.resize(std::size_t(columns), kBlankCell);
        line.dirty = std::min(line.dirty, columns);
        std::erase_if(line.marks,
                      [columns](const CombiningMarks& marks) { return marks.column >= columns; });
    }
    if (int(grid.lines.size()) > rows) {
        grid.lines.resize(std::size_t(rows));
    }
    while (int(grid.lines.size()) < rows) {
        Line line;
        blank(line.cells, columns);
        grid.lines.push_back(std::move(line));
    }
    cursorRow -= drop;
}

void TerminalScreen::resize(int rows, int columns) {
    const int newRows = std::max(rows, kMinimumRows);
    const int newColumns = std::max(columns, kMinimumColumns);
    if (newRows == m_rows && newColumns == m_columns) {
        return;
    }
    refit(m_grid, m_row, !m_alternate, newRows, newColumns);
    if (m_alternate) {
        refit(m_alternate->grid, m_alternate->row, true, newRows, newColumns);
        m_alternate->column = std::min(newColumns - 1, m_alternate->column);
    }
    m_rows = newRows;
    m_columns = newColumns;
    m_column = std::min(newColumns - 1, m_column);
    m_scrollTop = 0;
    m_scrollBottom = newRows - 1;
    m_pendingWrap = false;
}

QString TerminalScreen::plainText() const {
    QString text;
    auto appendLine = [&text](const Line& line) {
        const qsizetype lineStart = text.size();
        for (int column = 0; column < int(line.cells.size()); ++column) {
            const PackedCell& cell = line.cells[std::size_t(column)];
            if (cell.continuation()) {
                continue;
            }
            if (cell.hasCombining()) {
                text += textOf(line, column);
            } else {
                appendScalar(text, cell.codePoint());
            }
        }
        qsizetype end = text.size();
        while (end > lineStart && text.at(end - 1).isSpace()) {
            --end;
        }
        text.truncate(end);
        text.append(QLatin1Char('\n'));
    };
    for (int index = 0; index < m_historyCount; ++index) {
        appendLine(historyLine(index));
    }
    for (int row = 0; row < m_rows; ++row) {
        appendLine(lineAt(row));
    }
    return text.trimmed();
}

QString TerminalScreen::invariantViolation() const {
    auto gridViolation = [this](const Grid& grid, const char* name) -> QString {
        if (int(grid.lines.size()) != m_rows || grid.top < 0 || grid.top >= m_rows) {
            return QStringLiteral("%1 has %2 lines for %3 rows")
                .arg(QLatin1String(name))
                .arg(grid.lines.size())
                .arg(m_rows);
        }
        for (const Line& line : grid.lines) {
            if (int(line.cells.size()) != m_columns) {
                return QStringLiteral("%1 has a line of %2 cells for %3 columns")
                    .arg(QLatin1String(name))
                    .arg(line.cells.size())
                    .arg(m_columns);
            }
        }
        return {};
    };
    if (QString violation = gridViolation(m_grid, "the grid"); !violation.isEmpty()) {
        return violation;
    }
    if (m_row < 0 || m_row >= m_rows || m_column < 0 || m_column >= m_columns) {
        return QStringLiteral("cursor (%1, %2) outside %3 x %4")
            .arg(m_row)
            .arg(m_column)
            .arg(m_rows)
            .arg(m_columns);
    }
    if (m_scrollTop < 0 || m_scrollTop > m_scrollBottom || m_scrollBottom >= m_rows) {
        return QStringLiteral("scroll region %1-%2 with %3 rows")
            .arg(m_scrollTop)
            .arg(m_scrollBottom)
            .arg(m_rows);
    }
    if (m_historyCount < 0 || m_historyCount > kScrollbackLimit) {
        return QStringLiteral("scrollback holds %1 lines").arg(m_historyCount);
    }
    if (m_alternate) {
        if (QString violation = gridViolation(m_alternate->grid, "the saved main screen");
            !violation.isEmpty()) {
            return violation;
        }
        if (m_alternate->row < 0 || m_alternate->row >= m_rows || m_alternate->column < 0 ||
            m_alternate->column >= m_columns) {
            return QStringLiteral("saved main cursor (%1, %2) outside the grid")
                .arg(m_alternate->row)
                .arg(m_alternate->column);
        }
    }
    return {};
}
