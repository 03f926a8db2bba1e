#pragma once

#include <QString>
#include <QStringView>

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

/// A hyperlink that a program put on the screen (OSC 8), as the view asks for it.
struct TerminalHyperlink {
    /// The entry in the screen's link table: cells of one link share it, so the view can
    /// find all of them (a link wrapped over several lines, or one given the same id).
    int index = -1;
    QString uri;
    QString id;  ///< "" when the program gave none

    bool operator==(const TerminalHyperlink&) const = default;
};

/// True for the addresses a click may hand to the desktop: http, https and mailto, and file
/// URLs naming this machine (no host, "localhost" or the local host name). Anything else
/// (javascript:, ssh:, a file on another host, …) is shown but never opened.
bool isOpenableLink(QStringView uri);

/// The bounded table of the links one screen shows. Each entry counts the lines that list it
/// (see TerminalScreen) and is freed when the last one lets go, unless it is the link being
/// written. Lines dropped whole (cut by a resize, a reset) let go as well, so the counts are
/// exact; the screen checks them (TerminalScreen::invariantViolation()).
class TerminalLinkTable {
public:
    static constexpr int kCapacity = 2048;
    static constexpr int kNone = -1;

    struct Entry {
        std::string id;
        std::string uri;
        int references = 0;
        bool live = false;
    };

    /// The live entry for `id` and `uri`; kNone when there is none or `id` is empty (links
    /// without an id are never shared).
    int find(std::string_view id, std::string_view uri) const;
    /// A new entry without references; kNone when the table is full.
    int add(std::string_view id, std::string_view uri);
    void retain(int index) { ++m_entries[std::size_t(index)].references; }
    /// Drops a reference; the entry is freed when none is left, unless it is `open`.
    void release(int index, int open);
    /// Frees the entry if nothing refers to it.
    void freeIfUnreferenced(int index);
    /// Replaces every count with `references` (kCapacity counts) and frees the entries left
    /// without any, but `open`.
    void recount(const std::vector<int>& references, int open);
    void clear();

    bool full() const { return m_live == kCapacity; }
    int liveCount() const { return m_live; }
    bool isLive(int index) const {
        return index >= 0 && index < int(m_entries.size()) && m_entries[std::size_t(index)].live;
    }
    /// A live entry (see isLive()).
    const Entry& entry(int index) const { return m_entries[std::size_t(index)]; }

private:
    static std::string keyOf(std::string_view id, std::string_view uri);
    void free(int index);

    std::vector<Entry> m_entries;                  // grows up to kCapacity
    std::vector<int> m_free;                       // freed indexes, reused before the table grows
    std::unordered_map<std::string, int> m_byKey;  // entries with an id, by id and URI
    int m_live = 0;
};
