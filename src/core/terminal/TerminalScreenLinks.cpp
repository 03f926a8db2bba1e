// Hyperlinks of TerminalScreen (OSC 8): which cells carry which link, and the bounded table
// of the links in use.
//
// A cell holds a 5-bit slot into its line's list of links (Line::links), and that list holds
// indexes into the screen's link table (m_links). Cells keep their slot when they move along
// their line (insert, delete) and lines keep their list when they move (scrolling, the
// scrollback), so none of that has to know about links; writing over a cell or erasing it
// clears its slot like any other attribute.
//
// An entry counts the lines listing it and is freed when the last one is blanked (erased,
// scrolled out of the scrollback). A slot whose cells were all overwritten keeps its entry
// until the line runs out of slots or the table fills up: then the lines are swept, freeing
// the slots no cell uses, and the counts are redone. A full table is swept again only after
// an eighth of its size in new links, so a flood of links costs one sweep per many links.
#include "core/terminal/TerminalScreen.h"

#include <QByteArray>

#include <algorithm>
#include <array>
#include <utility>

namespace {

// An absolute URI of printable ASCII: a scheme (a letter, then letters, digits, "+", "-"
// and "."), a colon and anything after it. Programs are to percent-encode everything else.
bool wellFormedUri(std::string_view uri) {
    const std::size_t colon = uri.find(':');
    if (colon == std::string_view::npos || colon == 0) {
        return false;
    }
    auto isLetter = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
    if (!isLetter(uri[0])) {
        return false;
    }
    for (std::size_t i = 1; i < colon; ++i) {
        const char c = uri[i];
        if (!isLetter(c) && !(c >= '0' && c <= '9') && c != '+' && c != '-' && c != '.') {
            return false;
        }
    }
    return std::all_of(uri.begin(), uri.end(), [](char c) { return c > 0x20 && c < 0x7F; });
}

// The value of "id=" among the ":"-separated parameters; "" when absent.
std::string_view idParameter(std::string_view parameters) {
    while (!parameters.empty()) {
        const std::size_t end = std::min(parameters.find(':'), parameters.size());
        const std::string_view field = parameters.substr(0, end);
        if (field.starts_with("id=")) {
            return field.substr(3);
        }
        parameters.remove_prefix(std::min(end + 1, parameters.size()));
    }
    return {};
}

}  // namespace

void TerminalScreen::hyperlinkCommand(QStringView command) {
    if (!command.startsWith(u"8;")) {
        return;  // "8" alone is no hyperlink command
    }
    // Characters written before it (repeats still gathered) keep the link they had.
    applyPendingRepeats();
    // The parser reads one unit past the limit, so a longer command shows by its size.
    const bool truncated = command.size() >= TerminalParser::kMaxHyperlinkCommandLength;
    // As UTF-8, without control characters.
    QByteArray text = command.sliced(2).toUtf8();
    text.removeIf([](char c) { return (c >= 0 && c < 0x20) || c == 0x7F; });
    setHyperlink(std::string_view(text.data(), std::size_t(text.size())), truncated);
}

void TerminalScreen::setHyperlink(std::string_view text, bool truncated) {
    const int previous = m_link;
    m_link = openedLink(text, truncated, previous);
    if (previous != TerminalLinkTable::kNone && previous != m_link) {
        m_links.freeIfUnreferenced(previous);
    }
}

void TerminalScreen::closeLink() {
    if (m_link != TerminalLinkTable::kNone) {
        m_links.freeIfUnreferenced(std::exchange(m_link, TerminalLinkTable::kNone));
    }
}

int TerminalScreen::openedLink(std::string_view text, bool truncated, int previous) {
    const std::size_t separator = text.find(';');
    if (truncated || separator == std::string_view::npos) {
        return TerminalLinkTable::kNone;
    }
    const std::string_view uri = text.substr(separator + 1);
    const std::string_view id = idParameter(text.substr(0, separator));
    if (uri.empty() || int(uri.size()) > kMaxLinkUriLength || int(id.size()) > kMaxLinkIdLength ||
        !wellFormedUri(uri)) {
        return TerminalLinkTable::kNone;
    }
    if (id.empty()) {
        // Links without an id are each their own, but opening the same address again while
        // it is open (some programs do so around every piece of text) continues it.
        if (previous != TerminalLinkTable::kNone && m_links.entry(previous).id.empty() &&
            m_links.entry(previous).uri == uri) {
            return previous;
        }
    } else if (const int found = m_links.find(id, uri); found != TerminalLinkTable::kNone) {
        return found;
    }
    ++m_linkRequestsSinceSweep;
    if (m_links.full() && m_linkRequestsSinceSweep >= TerminalLinkTable::kCapacity / 8) {
        sweepLinks(previous);
    }
    return m_links.add(id, uri);  // none when the table is still full
}

void TerminalScreen::markLink(Line& line, int from, int to) {
    const int slot = linkSlotFor(line, m_link);
    if (slot == 0) {
        return;
    }
    for (int column = from; column < to; ++column) {
        line.cells[std::size_t(column)].setLinkSlot(slot);
    }
}

int TerminalScreen::linkSlotFor(Line& line, int link) {
    if (line.links < 0) {
        if (m_freeLinkLists.empty()) {
            m_freeLinkLists.push_back(int(m_linkLists.size()));
            m_linkLists.emplace_back();
        }
        line.links = m_freeLinkLists.back();
        m_freeLinkLists.pop_back();
    }
    std::vector<std::uint16_t>& links = linkListOf(line);
    const auto found = std::find(links.begin(), links.end(), std::uint16_t(link));
    if (found != links.end()) {
        return int(found - links.begin()) + 1;
    }
    constexpr std::size_t kSlots = PackedCell::kLinkSlots - 1;
    if (links.size() == kSlots) {
        sweepLine(line);
    }
    auto freeSlot = std::find(links.begin(), links.end(), kNoLink);
    if (freeSlot == links.end()) {
        if (links.size() == kSlots) {
            return 0;  // every slot is used by a cell: this text gets no link
        }
        freeSlot = links.insert(links.end(), kNoLink);
    }
    *freeSlot = std::uint16_t(link);
    m_links.retain(link);
    return int(freeSlot - links.begin()) + 1;
}

void TerminalScreen::sweepLine(Line& line) {
    if (line.links < 0) {
        return;
    }
    std::uint32_t used = 0;
    const int end = std::min<int>(line.dirty, int(line.cells.size()));  // blank after dirty
    for (int column = 0; column < end; ++column) {
        used |= 1u << line.cells[std::size_t(column)].linkSlot();
    }
    sweepLinkList(line.links, used);
}

void TerminalScreen::sweepLinkList(int list, std::uint32_t used) {
    static_assert(PackedCell::kLinkSlots <= 32);
    std::vector<std::uint16_t>& links = m_linkLists[std::size_t(list)];
    for (std::size_t i = 0; i < links.size(); ++i) {
        if (links[i] != kNoLink && !(used & (1u << (i + 1)))) {
            m_links.release(std::exchange(links[i], kNoLink), m_link);
        }
    }
    while (!links.empty() && links.back() == kNoLink) {
        links.pop_back();
    }
}

void TerminalScreen::releaseLinks(Line& line) {
    releaseLinkList(std::exchange(line.links, -1));
}

void TerminalScreen::releaseLinkList(int list) {
    std::vector<std::uint16_t>& links = m_linkLists[std::size_t(list)];
    for (const std::uint16_t link : links) {
        if (link != kNoLink) {
            m_links.release(link, m_link);
        }
    }
    links.clear();
    m_freeLinkLists.push_back(list);
}

void TerminalScreen::appendLinkIndexes(const Line& line, int count,
                                       std::vector<std::uint16_t>& indexes) const {
    for (int column = 0; column < count; ++column) {
        const int index = linkIndexOf(line, column);
        indexes.push_back(index == TerminalLinkTable::kNone ? kNoLink : std::uint16_t(index));
    }
}

void TerminalScreen::relinkCells(Line& line, const std::uint16_t* indexes, int count) {
    // The slots copied along name entries of the lines the cells came from.
    for (int column = 0; column < count; ++column) {
        line.cells[std::size_t(column)].setLinkSlot(0);
    }
    for (int column = 0; column < count; ++column) {
        if (indexes[column] != kNoLink) {
            line.cells[std::size_t(column)].setLinkSlot(linkSlotFor(line, indexes[column]));
        }
    }
}

void TerminalScreen::releaseHistoryLinks() {
    for (HistoryLine& line : m_history) {
        if (line.links >= 0) {
            releaseLinkList(std::exchange(line.links, -1));
        }
    }
    historyChanged();
}

void TerminalScreen::sweepLinks(int open) {
    std::vector<int> references(std::size_t(TerminalLinkTable::kCapacity), 0);
    std::vector<bool> listUsed(m_linkLists.size(), false);
    auto count = [this, &references, &listUsed](int list) {
        if (list < 0) {
            return;
        }
        listUsed[std::size_t(list)] = true;
        for (const std::uint16_t link : m_linkLists[std::size_t(list)]) {
            if (link != kNoLink) {
                ++references[link];
            }
        }
    };
    auto sweep = [this, &count](Line& line) {
        sweepLine(line);
        count(line.links);
    };
    for (Line& line : m_grid.lines) {
        sweep(line);
    }
    if (m_alternate) {
        for (Line& line : m_alternate->grid.lines) {
            sweep(line);
        }
    }
    for (Line& line : m_spareGrid.lines) {
        sweep(line);
    }
    const int slots = int(m_history.size());
    for (int slot = 0; slot < slots; ++slot) {
        HistoryLine& line = m_history[std::size_t(slot)];
        if ((slot - m_historyStart + slots) % slots < m_historyCount) {
            if (line.links >= 0) {
                sweepLinkList(line.links, line.cells.linkSlotsUsed());
            }
            count(line.links);
        } else {
            line.links = -1;
        }
    }
    // Every list no line holds goes back to the pool, and the counts are redone.
    m_freeLinkLists.clear();
    for (std::size_t list = 0; list < m_linkLists.size(); ++list) {
        if (!listUsed[list]) {
            m_linkLists[list].clear();
            m_freeLinkLists.push_back(int(list));
        }
    }
    m_links.recount(references, open);
    m_linkRequestsSinceSweep = 0;
}

int TerminalScreen::linkIndexOf(const Line& line, int column) const {
    if (column < 0 || column >= int(line.cells.size())) {
        return TerminalLinkTable::kNone;
    }
    const int slot = line.cells[std::size_t(column)].linkSlot();
    if (slot == 0 || line.links < 0 || slot > int(linkListOf(line).size())) {
        return TerminalLinkTable::kNone;
    }
    const std::uint16_t link = linkListOf(line)[std::size_t(slot - 1)];
    return link == kNoLink ? TerminalLinkTable::kNone : int(link);
}

std::optional<TerminalHyperlink> TerminalScreen::linkOf(const Line& line, int column) const {
    const int index = linkIndexOf(line, column);
    if (index == TerminalLinkTable::kNone) {
        return std::nullopt;
    }
    const TerminalLinkTable::Entry& entry = m_links.entry(index);
    return TerminalHyperlink{index,
                             QString::fromUtf8(entry.uri.data(), qsizetype(entry.uri.size())),
                             QString::fromUtf8(entry.id.data(), qsizetype(entry.id.size()))};
}

int TerminalScreen::linkIndex(int row, int column) const {
    return row >= 0 && row < m_rows ? linkIndexOf(lineAt(row), column) : TerminalLinkTable::kNone;
}

int TerminalScreen::scrollbackLinkIndex(int index, int column) const {
    return index >= 0 && index < m_historyCount ? linkIndexOf(historyLine(index), column)
                                                : TerminalLinkTable::kNone;
}

std::optional<TerminalHyperlink> TerminalScreen::linkAt(int row, int column) const {
    if (row < 0 || row >= m_rows) {
        return std::nullopt;
    }
    return linkOf(lineAt(row), column);
}

std::optional<TerminalHyperlink> TerminalScreen::scrollbackLinkAt(int index, int column) const {
    if (index < 0 || index >= m_historyCount) {
        return std::nullopt;
    }
    return linkOf(historyLine(index), column);
}

QString TerminalScreen::linkViolation() const {
    if (m_links.liveCount() > TerminalLinkTable::kCapacity) {
        return QStringLiteral("the link table holds %1 links").arg(m_links.liveCount());
    }
    if (m_link != TerminalLinkTable::kNone && !m_links.isLive(m_link)) {
        return QStringLiteral("the open link %1 is not in the table").arg(m_link);
    }
    std::vector<bool> listSeen(m_linkLists.size(), false);
    auto lineViolation = [this, &listSeen](const Line& line) -> QString {
        static const std::vector<std::uint16_t> kNoLinks;
        if (line.links >= int(m_linkLists.size())) {
            return QStringLiteral("a line has the unknown list of links %1").arg(line.links);
        }
        if (line.links >= 0) {
            if (listSeen[std::size_t(line.links)]) {
                return QStringLiteral("two lines share the list of links %1").arg(line.links);
            }
            listSeen[std::size_t(line.links)] = true;
        }
        const std::vector<std::uint16_t>& links = line.links >= 0 ? linkListOf(line) : kNoLinks;
        if (links.size() >= std::size_t(PackedCell::kLinkSlots)) {
            return QStringLiteral("a line lists %1 links").arg(links.size());
        }
        for (const std::uint16_t link : links) {
            if (link != kNoLink && !m_links.isLive(link)) {
                return QStringLiteral("a line lists the free link %1").arg(link);
            }
        }
        for (int column = 0; column < int(line.cells.size()); ++column) {
            const int slot = line.cells[std::size_t(column)].linkSlot();
            if (slot != 0 &&
                (slot > int(links.size()) || links[std::size_t(slot - 1)] == kNoLink)) {
                return QStringLiteral("cell %1 has the unlisted link slot %2")
                    .arg(column)
                    .arg(slot);
            }
        }
        return {};
    };
    for (int row = 0; row < m_rows; ++row) {
        if (QString violation = lineViolation(lineAt(row)); !violation.isEmpty()) {
            return QStringLiteral("row %1: %2").arg(row).arg(violation);
        }
    }
    if (m_alternate) {
        for (const Line& line : m_alternate->grid.lines) {
            if (QString violation = lineViolation(line); !violation.isEmpty()) {
                return QStringLiteral("saved main screen: %1").arg(violation);
            }
        }
    }
    for (int index = 0; index < m_historyCount; ++index) {
        if (QString violation = lineViolation(historyLine(index)); !violation.isEmpty()) {
            return QStringLiteral("scrollback line %1: %2").arg(index).arg(violation);
        }
    }
    // The lines waiting for reuse still list their links until they are blanked.
    for (const Line& line : m_spareGrid.lines) {
        if (QString violation = lineViolation(line); !violation.isEmpty()) {
            return QStringLiteral("spare line: %1").arg(violation);
        }
    }
    return referenceViolation(listSeen);
}

QString TerminalScreen::referenceViolation(const std::vector<bool>& listSeen) const {
    // Every list no line names is free, and each entry counts the lines listing it.
    std::vector<bool> listFree(m_linkLists.size(), false);
    for (const int list : m_freeLinkLists) {
        if (listSeen[std::size_t(list)] || listFree[std::size_t(list)]) {
            return QStringLiteral("the list of links %1 is free and in use").arg(list);
        }
        listFree[std::size_t(list)] = true;
    }
    std::vector<int> references(std::size_t(TerminalLinkTable::kCapacity), 0);
    for (std::size_t list = 0; list < m_linkLists.size(); ++list) {
        if (!listSeen[list] && !listFree[list]) {
            return QStringLiteral("the list of links %1 is lost").arg(list);
        }
        if (listSeen[list]) {
            for (const std::uint16_t link : m_linkLists[list]) {
                if (link != kNoLink) {
                    ++references[link];
                }
            }
        }
    }
    for (int index = 0; index < TerminalLinkTable::kCapacity; ++index) {
        if (!m_links.isLive(index)) {
            continue;
        }
        const int counted = m_links.entry(index).references;
        if (counted != references[std::size_t(index)] || (counted == 0 && index != m_link)) {
            return QStringLiteral("link %1 counts %2 lines, %3 list it")
                .arg(index)
                .arg(counted)
                .arg(references[std::size_t(index)]);
        }
    }
    return {};
}
